#pragma once

#include "cloud/Speakers.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Mindvault;

// A transcribed recording's text and speakers, read from the service for the detail pane.
// Requests never block the event loop; each transcript is read once per client and kept, so
// going back to a recording shows it at once. Naming a speaker writes through the service and
// reads that transcript's speakers again. What was read (and why reads failed) belongs to the
// client that read it: a new client, or none, starts afresh.
class TranscriptReader : public QObject {
    Q_OBJECT

public:
    struct Transcript {
        QList<TranscriptSegment> segments;
        QList<SpeakerRow> speakers;
        QList<SpeakerShare> shares;

        int unconfirmed() const;
        // The name shown for a label: the confirmed or inferred identity, else the label.
        QString nameOf(const QString& label) const;
    };

    // The service client for UI requests; nullptr while there is none (not signed in).
    using VaultFn = std::function<std::shared_ptr<Mindvault>()>;
    // The archive's copy of a transcript, if it has one.
    using StoredFn = std::function<std::optional<Transcript>(const QString& transcriptId)>;

    // stored: shown at once (also offline) while the service is asked for the current text; a
    // failed read then keeps the stored copy on screen.
    explicit TranscriptReader(VaultFn vault, QObject* parent = nullptr);
    TranscriptReader(VaultFn vault, StoredFn stored, QObject* parent = nullptr);

    // Starts reading unless it is cached or already being read; loaded or failed follows.
    void request(const QString& transcriptId);
    const Transcript* cached(const QString& transcriptId) const;
    bool isLoading(const QString& transcriptId) const { return m_loading.contains(transcriptId); }
    // The last read's failure for this transcript, if it failed.
    std::optional<QString> failure(const QString& transcriptId) const;

    // Gives a speaker a name (and an organisation profile when one was picked). Answers the
    // reason when the service refused, nothing when it worked.
    QCoro::Task<std::optional<QString>> nameSpeaker(QString transcriptId, SpeakerRow row,
                                                    QString identity,
                                                    std::optional<QString> profile);

    // The organisation's people, read once, for picking a profile when naming.
    QCoro::Task<QList<PersonProfile>> people();

    // The service client came, went or changed account: forgets every transcript, failure and
    // profile list, drops the answers of reads still under way, and says so with reset().
    void clientChanged();

Q_SIGNALS:
    void loaded(const QString& transcriptId);
    // What cached() holds for it came from the service just now.
    void fetched(const QString& transcriptId);
    void failed(const QString& transcriptId, const QString& reason);
    // A name was taken; unconfirmed speakers are left in that transcript.
    void speakersNamed(const QString& transcriptId, int unconfirmed);
    // Everything was forgotten: views ask again for what they show.
    void reset();

private:
    QCoro::Task<> read(QString transcriptId);

    VaultFn m_vault;
    StoredFn m_stored;
    QHash<QString, Transcript> m_cache;
    QHash<QString, QString> m_failures;
    QSet<QString> m_loading;
    std::optional<QList<PersonProfile>> m_people;
    int m_generation = 0; // clientChanged() makes answers of older reads stale
};
