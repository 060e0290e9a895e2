#include "TranscriptStore.h"


#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString driver = u"QSQLITE"_s;

// Step n brings a store from version n to n + 1; a new version appends its step here.
struct MigrationStep {
    QStringList sql;
    bool reindex = false; // then every segment is indexed again
};

const QList<MigrationStep>& migrationSteps()
{
    static const QList<MigrationStep> steps{
        {{
            u"CREATE TABLE recordings(id INTEGER PRIMARY KEY, base TEXT NOT NULL UNIQUE,"
            " transcript_id TEXT NOT NULL, title TEXT, fetched_at TEXT NOT NULL,"
            " service_deleted INTEGER NOT NULL DEFAULT 0)"_s,
            u"CREATE INDEX recordings_transcript ON recordings(transcript_id)"_s,
            u"CREATE TABLE speakers(recording INTEGER NOT NULL, label TEXT NOT NULL, name TEXT,"
            " confirmed INTEGER NOT NULL DEFAULT 0, row_id TEXT,"
            " PRIMARY KEY(recording, label)) WITHOUT ROWID"_s,
            u"CREATE TABLE segments(id INTEGER PRIMARY KEY, segment_id TEXT,"
            " speaker TEXT NOT NULL, text TEXT NOT NULL, start_ms INTEGER NOT NULL,"
            " end_ms INTEGER NOT NULL)"_s,
            u"CREATE VIRTUAL TABLE segment_index USING fts5(text, content='',"
            " tokenize='trigram', detail='none')"_s,
            u"CREATE VIRTUAL TABLE segment_terms USING fts5vocab(segment_index, 'row')"_s,
        }},
        // Version 1 answered one and two characters from its trigrams' prefixes, far too
        // slowly; its index numbered segments by recording id, which made it large.
        {{
             u"ALTER TABLE recordings ADD COLUMN doc_base INTEGER NOT NULL DEFAULT 0"_s,
             u"ALTER TABLE recordings ADD COLUMN doc_count INTEGER NOT NULL DEFAULT 0"_s,
             u"DROP TABLE segment_terms"_s,
             u"DROP TABLE segment_index"_s,
             // Contentless: the text lives once, in segments. Without positions (detail none)
             // the indexes stay small; a hit of a longer query is confirmed against the text.
             u"CREATE VIRTUAL TABLE segment_trigrams USING fts5(text, content='',"
             " tokenize='trigram', detail='none', columnsize=0)"_s,
             // Tokens are split at spaces and control characters only (see pairTokens).
             u"CREATE VIRTUAL TABLE segment_pairs USING fts5(text, content='', detail='none',"
             " columnsize=0, tokenize=\"unicode61 remove_diacritics 0"
             " categories 'L* M* N* P* S* Co Cn Cf Cs'\")"_s,
         },
         true},
    };
    return steps;
}

QString newConnectionName()
{
    return u"transcripts-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Moves the file and its journal aside under one new name.
QString moveAside(const QString& path)
{
    const QString aside =
        path + u".broken-"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    QString target = aside;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = aside + u'-' + QString::number(n);
    QFile::rename(path, target);
    for (const QString& suffix : {u"-wal"_s, u"-shm"_s})
        if (QFileInfo::exists(path + suffix))
            QFile::rename(path + suffix, target + suffix);
    return target;
}

} // namespace

QString TranscriptStoreError::description() const
{
    switch (m_kind) {
    case Kind::missing:
        return u"这个留档里还没有转写库（%1）：导入程序取回第一条转写后才会有。"_s.arg(m_path);
    case Kind::cannotOpen:
        return u"转写库（%1）打不开：%2"_s.arg(m_path, m_detail);
    case Kind::newerSchema:
        return u"转写库（%1）是更新版本的程序写的，这个版本不改动它；请升级程序。"_s.arg(m_path);
    case Kind::failed:
        break;
    }
    return u"转写库（%1）读写失败：%2"_s.arg(m_path, m_detail);
}

QString TranscriptStore::pathIn(const QString& archiveRoot)
{
    return archiveRoot + u"/out/transcripts.sqlite"_s;
}

bool TranscriptStore::sound(const QString& path)
{
    if (!QFileInfo::exists(path))
        return true;
    const QString name = newConnectionName();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"_s);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(u"PRAGMA quick_check"_s) && q.next() && q.value(0).toString() == u"ok"_s;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

void TranscriptStore::upgrade(const QString& path)
{
    if (!QFileInfo::exists(path))
        return;
    try {
        std::unique_ptr<TranscriptStore> store(
            new TranscriptStore(path, newConnectionName(), Mode::write));
        store->migrate();
    } catch (const TranscriptStoreError&) {
    }
}

std::unique_ptr<TranscriptStore> TranscriptStore::open(const QString& path, Mode mode,
                                                       const LogFn& log, Check check)
{
    if (mode == Mode::read) {
        if (!QFileInfo::exists(path))
            throw TranscriptStoreError(TranscriptStoreError::Kind::missing, path);
        std::unique_ptr<TranscriptStore> store(
            new TranscriptStore(path, newConnectionName(), Mode::read));
        const int version = store->exec(u"PRAGMA user_version"_s).value(0).toInt();
        if (version > schemaVersion)
            throw TranscriptStoreError(TranscriptStoreError::Kind::newerSchema, path);
        if (version < schemaVersion)
            throw TranscriptStoreError(TranscriptStoreError::Kind::cannotOpen, path,
                                       u"它还没有建好，等导入程序打开它一次。"_s);
        return store;
    }

    QDir().mkpath(QFileInfo(path).absolutePath());
    const auto replaceBroken = [&] {
        const QString aside = moveAside(path);
        if (log)
            log(u"转写库 %1 打不开或已损坏，已原样挪到 %2，换一个新的，转写会从Mindvault重新取回"_s
                    .arg(QFileInfo(path).fileName(), QFileInfo(aside).fileName()));
    };
    if (check == Check::yes && !sound(path))
        replaceBroken();
    for (int attempt = 0;; ++attempt) {
        try {
            std::unique_ptr<TranscriptStore> store(
                new TranscriptStore(path, newConnectionName(), Mode::write));
            store->migrate();
            return store;
        } catch (const TranscriptStoreError& e) {
            if (e.kind() != TranscriptStoreError::Kind::cannotOpen || attempt > 0 ||
                !QFileInfo::exists(path))
                throw;
        }
        replaceBroken();
    }
}

TranscriptStore::TranscriptStore(QString path, QString connection, Mode mode)
    : m_path(std::move(path)), m_connection(std::move(connection)), m_mode(mode)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(mode == Mode::read ? u"QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"_s
                                            : u"QSQLITE_BUSY_TIMEOUT=5000"_s);
    // A reader must leave the archive as it found it: without a writer (no WAL file) SQLite
    // would create the WAL and shared-memory files even for a read-only connection.
    if (mode == Mode::read && !QFileInfo::exists(m_path + u"-wal"_s)) {
        db.setDatabaseName(u"file:"_s + QString::fromLatin1(QUrl::toPercentEncoding(m_path, "/")) +
                           u"?immutable=1"_s);
        db.setConnectOptions(u"QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"_s);
    }
    if (!db.open()) {
        const QString detail = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
        throw TranscriptStoreError(TranscriptStoreError::Kind::cannotOpen, m_path, detail);
    }
    // Reading the schema proves the file is a database at all.
    QSqlQuery probe(db);
    if (!probe.exec(u"SELECT count(*) FROM sqlite_schema"_s)) {
        const QString detail = probe.lastError().text();
        probe = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
        throw TranscriptStoreError(TranscriptStoreError::Kind::cannotOpen, m_path, detail);
    }
}

TranscriptStore::~TranscriptStore()
{
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

QSqlDatabase TranscriptStore::db() const
{
    return QSqlDatabase::database(m_connection, false);
}

void TranscriptStore::fail(const QString& what) const
{
    throw TranscriptStoreError(TranscriptStoreError::Kind::failed, m_path, what);
}

QSqlQuery TranscriptStore::exec(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        fail(q.lastError().text());
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        fail(q.lastError().text());
    q.next();
    return q;
}

void TranscriptStore::migrate()
{
    QSqlQuery version(db());
    if (!version.exec(u"PRAGMA user_version"_s) || !version.next())
        throw TranscriptStoreError(TranscriptStoreError::Kind::cannotOpen, m_path,
                                   version.lastError().text());
    const int from = version.value(0).toInt();
    version = QSqlQuery();
    if (from > schemaVersion)
        throw TranscriptStoreError(TranscriptStoreError::Kind::newerSchema, m_path);
    exec(u"PRAGMA journal_mode=WAL"_s);
    exec(u"PRAGMA synchronous=NORMAL"_s);
    if (from == schemaVersion)
        return;
    if (!db().transaction())
        fail(db().lastError().text());
    try {
        for (int v = from; v < schemaVersion; ++v) {
            const MigrationStep& step = migrationSteps().at(v);
            for (const QString& sql : step.sql)
                exec(sql);
            if (step.reindex)
                reindexAll();
        }
        exec(u"PRAGMA user_version=%1"_s.arg(schemaVersion));
    } catch (...) {
        db().rollback();
        throw;
    }
    if (!db().commit())
        fail(db().lastError().text());
    // Rebuilt indexes leave the old ones' pages free: give them back to the disk.
    for (int v = from; v < schemaVersion; ++v)
        if (migrationSteps().at(v).reindex && from > 0) {
            exec(u"VACUUM"_s);
            break;
        }
}

std::optional<qint64> TranscriptStore::recordingId(const QString& base) const
{
    QSqlQuery q = exec(u"SELECT id FROM recordings WHERE base = ?"_s, {base});
    if (!q.isValid())
        return std::nullopt;
    return q.value(0).toLongLong();
}

std::optional<StoredTranscript> TranscriptStore::get(const QString& base) const
{
    QSqlQuery r = exec(u"SELECT id, transcript_id, title, fetched_at, service_deleted"
                       " FROM recordings WHERE base = ?"_s,
                       {base});
    if (!r.isValid())
        return std::nullopt;
    StoredTranscript t;
    const qint64 id = r.value(0).toLongLong();
    t.base = base;
    t.transcriptId = r.value(1).toString();
    if (!r.value(2).isNull())
        t.title = r.value(2).toString();
    t.fetchedAt = QDateTime::fromString(r.value(3).toString(), Qt::ISODate);
    t.serviceDeleted = r.value(4).toBool();
    for (QSqlQuery s = exec(u"SELECT segment_id, speaker, text, start_ms, end_ms FROM segments"
                            " WHERE id BETWEEN ? AND ? ORDER BY id"_s,
                            {id << segmentBits, ((id + 1) << segmentBits) - 1});
         s.isValid(); s.next())
        t.segments.append({s.value(0).toString(), s.value(1).toString(), s.value(2).toString(),
                           s.value(3).toLongLong(), s.value(4).toLongLong()});
    for (QSqlQuery s = exec(u"SELECT label, name, confirmed, row_id FROM speakers"
                            " WHERE recording = ? ORDER BY label"_s,
                            {id});
         s.isValid(); s.next()) {
        StoredSpeaker speaker{s.value(0).toString(), std::nullopt, s.value(2).toBool(),
                              s.value(3).toString()};
        if (!s.value(1).isNull())
            speaker.name = s.value(1).toString();
        t.speakers.append(speaker);
    }
    return t;
}

std::optional<StoredTranscript> TranscriptStore::find(const QString& transcriptId) const
{
    QSqlQuery q = exec(u"SELECT base FROM recordings WHERE transcript_id = ? ORDER BY base DESC"_s,
                       {transcriptId});
    if (!q.isValid())
        return std::nullopt;
    return get(q.value(0).toString());
}

QHash<QString, QString> TranscriptStore::transcriptIds() const
{
    QHash<QString, QString> out;
    for (QSqlQuery q = exec(u"SELECT base, transcript_id FROM recordings"_s); q.isValid(); q.next())
        out.insert(q.value(0).toString(), q.value(1).toString());
    return out;
}

void TranscriptStore::dropSegments(qint64 id)
{
    const QVariantList range{id << segmentBits, ((id + 1) << segmentBits) - 1};
    QStringList texts;
    for (QSqlQuery s =
             exec(u"SELECT text FROM segments WHERE id BETWEEN ? AND ? ORDER BY id"_s, range);
         s.isValid(); s.next())
        texts << s.value(0).toString();
    unindexTexts(
        exec(u"SELECT doc_base FROM recordings WHERE id = ?"_s, {id}).value(0).toLongLong(), texts);
    exec(u"DELETE FROM segments WHERE id BETWEEN ? AND ?"_s, range);
}

void TranscriptStore::put(const StoredTranscript& t)
{
    if (t.segments.size() >= (qsizetype(1) << segmentBits))
        fail(u"一条录音的转写段落太多（%1段）"_s.arg(t.segments.size()));
    QList<TranscriptSegment> segments = t.segments;
    std::stable_sort(segments.begin(), segments.end(),
                     [](const auto& a, const auto& b) { return a.startMs < b.startMs; });
    if (!db().transaction())
        fail(db().lastError().text());
    try {
        const QVariant title =
            t.title ? QVariant(*t.title) : QVariant(QMetaType(QMetaType::QString));
        const QString fetched = t.fetchedAt.toString(Qt::ISODateWithMs);
        std::optional<qint64> id = recordingId(t.base);
        if (id) {
            dropSegments(*id);
            exec(u"DELETE FROM speakers WHERE recording = ?"_s, {*id});
        }
        // A new range, after every other (also this recording's old one).
        const qint64 docBase = nextDocBase();
        if (id) {
            exec(u"UPDATE recordings SET transcript_id = ?, title = ?, fetched_at = ?,"
                 " service_deleted = ?, doc_base = ?, doc_count = ? WHERE id = ?"_s,
                 {t.transcriptId, title, fetched, int(t.serviceDeleted), docBase,
                  qlonglong(segments.size()), *id});
        } else {
            QSqlQuery q =
                exec(u"INSERT INTO recordings(base, transcript_id, title, fetched_at,"
                     " service_deleted, doc_base, doc_count) VALUES(?, ?, ?, ?, ?, ?, ?)"_s,
                     {t.base, t.transcriptId, title, fetched, int(t.serviceDeleted), docBase,
                      qlonglong(segments.size())});
            id = q.lastInsertId().toLongLong();
        }
        QSqlQuery row(db());
        row.prepare(u"INSERT INTO segments(id, segment_id, speaker, text, start_ms, end_ms)"
                    " VALUES(?, ?, ?, ?, ?, ?)"_s);
        QStringList texts;
        for (qsizetype i = 0; i < segments.size(); ++i) {
            const TranscriptSegment& s = segments.at(i);
            const qint64 rowid = (*id << segmentBits) | qint64(i);
            for (const QVariant& v : QVariantList{rowid, s.id, s.speaker, s.text,
                                                  qlonglong(s.startMs), qlonglong(s.endMs)})
                row.addBindValue(v);
            if (!row.exec())
                fail(row.lastError().text());
            texts << s.text;
        }
        indexTexts(docBase, texts);
        for (const StoredSpeaker& s : t.speakers)
            exec(u"INSERT OR REPLACE INTO speakers(recording, label, name, confirmed, row_id)"
                 " VALUES(?, ?, ?, ?, ?)"_s,
                 {*id, s.label,
                  s.name ? QVariant(*s.name) : QVariant(QMetaType(QMetaType::QString)),
                  int(s.confirmed), s.id});
    } catch (...) {
        db().rollback();
        throw;
    }
    if (!db().commit())
        fail(db().lastError().text());
}

bool TranscriptStore::setServiceDeleted(const QString& base, bool deleted)
{
    return exec(u"UPDATE recordings SET service_deleted = ? WHERE base = ?"_s, {int(deleted), base})
               .numRowsAffected() > 0;
}

bool TranscriptStore::setTitle(const QString& base, const std::optional<QString>& title)
{
    return exec(u"UPDATE recordings SET title = ? WHERE base = ?"_s,
                {title ? QVariant(*title) : QVariant(QMetaType(QMetaType::QString)), base})
               .numRowsAffected() > 0;
}

bool TranscriptStore::nameSpeaker(const QString& transcriptId, const QString& label,
                                  const std::optional<QString>& name, bool confirmed)
{
    const QVariant value = name ? QVariant(*name) : QVariant(QMetaType(QMetaType::QString));
    return exec(u"INSERT INTO speakers(recording, label, name, confirmed)"
                " SELECT id, ?, ?, ? FROM recordings WHERE transcript_id = ?"
                " ON CONFLICT(recording, label) DO UPDATE SET name = excluded.name,"
                " confirmed = excluded.confirmed"_s,
                {label, value, int(confirmed), transcriptId})
               .numRowsAffected() > 0;
}

QHash<QString, QString> TranscriptStore::speakerNames(qint64 id) const
{
    QHash<QString, QString> out;
    for (QSqlQuery q = exec(u"SELECT label, name FROM speakers WHERE recording = ?"_s, {id});
         q.isValid(); q.next())
        if (!q.value(1).isNull() && !q.value(1).toString().isEmpty())
            out.insert(q.value(0).toString(), q.value(1).toString());
    return out;
}
