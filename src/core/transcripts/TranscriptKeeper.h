#pragma once

#include "cloud/Speakers.h"
#include "cloud/VaultProvider.h"
#include "common/Clock.h"
#include "sync/RecordingItem.h"
#include "transcripts/TranscriptStore.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// How many transcripts are fetched at once, and how long a failed one waits.
struct TranscriptKeeperTiming {
    int concurrency = 2;
    int firstBackoffMs = 30'000; // doubled after each failure of the same recording
    int maxBackoffMs = 30 * 60'000;
};

// Fills the archive's transcript store in the background: each transcribed recording's segments
// and speakers are fetched once, a few at a time, with back-off after a failure, and stored in
// one transaction each. It never blocks the importer: it only reacts to what the recording list
// says, and a store that cannot be used is reported once and left alone. Lives on the event loop
// of the importer that holds the archive's lock (the only writer).
class TranscriptKeeper : public QObject {
    Q_OBJECT

public:
    struct Fetched {
        QList<TranscriptSegment> segments;
        QList<SpeakerRow> speakers;
    };
    // The service side: a transcript's segments and speakers; absent while there is no connected
    // client. Throws what the client throws.
    using FetchFn = std::function<QCoro::Task<std::optional<Fetched>>(QString transcriptId)>;
    using LogFn = TranscriptStore::LogFn;

    using Timing = TranscriptKeeperTiming;

    // What the keeper needs to know of one recording.
    struct Recording {
        QString base;
        std::optional<QString> transcriptId; // present once transcribed
        std::optional<QString> title;
        bool serviceDeleted = false;
        bool operator==(const Recording&) const = default;
    };
    static QList<Recording> fromItems(const QList<RecordingItem>& items);
    // Segments and speakers through the client the provider lends.
    static FetchFn fetchThrough(VaultProvider provider);

    TranscriptKeeper(QString storePath, FetchFn fetch, LogFn log, Timing timing = {},
                     Clock clock = systemClock(), QObject* parent = nullptr);
    ~TranscriptKeeper() override;

    // The recording list as it is now; the first call opens the store (off the event loop's
    // integrity check first) and fetches every transcribed recording it lacks.
    void noteRecordings(const QList<Recording>& recordings);
    // A speaker named in the window; written through to every stored copy of the transcript.
    void nameSpeaker(const QString& transcriptId, const QString& label,
                     const std::optional<QString>& name, bool confirmed);
    // A fresh read of a transcript in the window (the detail pane's refresh, or its speakers
    // again after one was named) replaces every stored copy of it.
    void refreshed(const QString& transcriptId, const Fetched& fetched);

    // Nothing left to fetch, nothing on the wire, no back-off pending.
    bool idle() const;
    // Null until the store is open, and when it cannot be used.
    TranscriptStore* store() const { return m_store.get(); }

Q_SIGNALS:
    // A transcript was written to the store.
    void stored(const QString& base);
    // The store is open (or known unusable) and the first list was looked at.
    void ready();
    void becameIdle();

private:
    void openStore();
    void openChecked(bool sound);
    QCoro::Task<> fetchOne(Recording recording);
    void consider(const Recording& r);
    void pump();
    void failed(const Recording& r, const QString& why);
    void write(const Recording& r, const Fetched& fetched);
    // Runs a store change; a failure is logged once and the keeper carries on.
    void guarded(const std::function<void()>& change);
    void checkIdle();

    QString m_path;
    FetchFn m_fetch;
    LogFn m_log;
    Timing m_timing;
    Clock m_clock;
    std::unique_ptr<TranscriptStore> m_store;
    bool m_opening = false;
    bool m_unusable = false;
    bool m_loggedWriteFailure = false;
    QList<Recording> m_latest;       // the last list, handled once the store is open
    QHash<QString, QString> m_known; // base -> stored transcript id
    QHash<QString, std::optional<QString>> m_titles; // titles written this run
    QSet<QString> m_markedDeleted;
    QList<Recording> m_pending; // due to fetch, in list order
    QSet<QString> m_inFlight;
    QHash<QString, int> m_failures; // base -> consecutive failures
    QSet<QString> m_waiting;        // bases backing off
};
