#pragma once

#include "common/Error.h"
#include "transcripts/StoredTranscript.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSqlDatabase;
class QSqlQuery;

// What went wrong with the transcript store, as one sentence for the user.
class TranscriptStoreError : public KestrelError {
public:
    enum class Kind { missing, cannotOpen, newerSchema, failed };
    TranscriptStoreError(Kind kind, QString path, QString detail = {})
        : m_kind(kind), m_path(std::move(path)), m_detail(std::move(detail))
    {}
    Kind kind() const { return m_kind; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
};

// The archive's transcripts ("out/transcripts.sqlite"): per recording its transcript id,
// title, segments and speakers, with two full-text indexes over the segments' text: trigrams
// for queries of three characters or more, pairs of characters (and lone characters) for
// shorter ones.
//
// One connection per object, used on the thread that opened it. Only the importer that holds
// the archive's lock opens it for writing; readers (search, export, the window) open it
// read-only and see the last committed state (WAL). Segment row ids are the recording's id
// shifted left by segmentBits plus the segment's position. The indexes number segments densely
// instead (a recording's segments are docBase + position), which keeps them small: their row
// lists are stored as differences.
class TranscriptStore {
public:
    enum class Mode { write, read };
    // Whether open() runs the integrity check first (a caller that ran sound() off the event
    // loop skips it).
    enum class Check { yes, no };
    using LogFn = std::function<void(const QString& line)>;

    static constexpr int schemaVersion = 2;
    static constexpr int segmentBits = 20;

    // root + "/out/transcripts.sqlite".
    static QString pathIn(const QString& archiveRoot);

    // write: creates the file (and its folder) and migrates an older schema. A file that cannot
    // be opened or fails its integrity check is moved aside (never deleted), said in one log
    // line, and a new store takes its place. read: the file must exist; nothing is written.
    // Throws TranscriptStoreError (a store of a newer version is never changed).
    static std::unique_ptr<TranscriptStore> open(const QString& path, Mode mode,
                                                 const LogFn& log = {}, Check check = Check::yes);
    // Brings an older store at path up to this version (rebuilding its indexes can take
    // minutes for a large store: run it off the event loop, before open()). Does nothing to a
    // store it cannot open or does not know; open() deals with those.
    static void upgrade(const QString& path);
    // SQLite's quick integrity check of the file at path, on the calling thread (slow for a
    // large store: run it off the event loop). True when the file is absent or sound.
    static bool sound(const QString& path);

    ~TranscriptStore();
    TranscriptStore(const TranscriptStore&) = delete;
    TranscriptStore& operator=(const TranscriptStore&) = delete;

    const QString& path() const { return m_path; }

    // --- reading ---
    std::optional<StoredTranscript> get(const QString& base) const;
    // The newest stored recording with this transcript.
    std::optional<StoredTranscript> find(const QString& transcriptId) const;
    // base -> transcript id of every stored transcript.
    QHash<QString, QString> transcriptIds() const;
    // Segments holding query (plain text, any length), best recordings first (most hits, then
    // the newest), each recording's hits in time order; at most limit hits.
    QList<TranscriptHit> search(const QString& query, int limit) const;

    // --- writing (throw TranscriptStoreError) ---
    // Replaces what is stored for t.base, in one transaction.
    void put(const StoredTranscript& t);
    // False when base has no stored transcript.
    bool setServiceDeleted(const QString& base, bool deleted);
    bool setTitle(const QString& base, const std::optional<QString>& title);
    // Names a speaker of every stored recording with this transcript; false when none.
    bool nameSpeaker(const QString& transcriptId, const QString& label,
                     const std::optional<QString>& name, bool confirmed);

private:
    TranscriptStore(QString path, QString connection, Mode mode);
    QSqlDatabase db() const;
    QSqlQuery exec(const QString& sql, const QVariantList& values = {}) const;
    void migrate();
    // Indexes every stored segment again, numbering recordings in id order (migration).
    void reindexAll();
    void fail(const QString& what) const;
    std::optional<qint64> recordingId(const QString& base) const;
    // Removes the segments of recording id from the table and the indexes.
    void dropSegments(qint64 id);
    // The first index number after every recording's range.
    qint64 nextDocBase() const;
    // Adds texts to both indexes as docBase, docBase + 1, ...
    void indexTexts(qint64 docBase, const QStringList& texts);
    // Takes them out again (the indexes keep no text: the same texts must be given).
    void unindexTexts(qint64 docBase, const QStringList& texts);
    QHash<QString, QString> speakerNames(qint64 id) const;

    QString m_path;
    QString m_connection;
    Mode m_mode;
};
