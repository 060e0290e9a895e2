// The transcript store: what it keeps, what search finds, and what it does with a bad file.

#include "transcripts/TranscriptStore.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

StoredTranscript transcript(const QString& base, const QList<QPair<int64_t, QString>>& said,
                            const QString& speaker = u"S1"_s)
{
    StoredTranscript t;
    t.base = base;
    t.transcriptId = u"tr-"_s + base;
    t.title = u"周会 "_s + base;
    t.fetchedAt = QDateTime(QDate(2025, 12, 3), QTime(9, 0));
    int n = 0;
    for (const auto& [ms, text] : said)
        t.segments.append({QString::number(++n), speaker, text, ms, ms + 1000});
    t.speakers = {{u"S1"_s, u"王芳"_s, true, {}}, {u"S2"_s, std::nullopt, false, {}}};
    return t;
}

class TranscriptStoreTest : public ::testing::Test {
protected:
    QString path() const { return TranscriptStore::pathIn(dir.path()); }
    std::unique_ptr<TranscriptStore> open()
    {
        return TranscriptStore::open(path(), TranscriptStore::Mode::write,
                                     [this](const QString& l) { logged << l; });
    }
    QStringList found(const TranscriptStore& store, const QString& query, int limit = 50)
    {
        QStringList out;
        for (const TranscriptHit& h : store.search(query, limit))
            out << h.base + u'@' + QString::number(h.startMs);
        return out;
    }

    QTemporaryDir dir;
    QStringList logged;
};

} // namespace

TEST_F(TranscriptStoreTest, KeepsAndReplacesATranscriptWhole)
{
    auto store = open();
    StoredTranscript t = transcript(u"a"_s, {{5000, u"后说的"_s}, {0, u"先说的"_s}});
    store->put(t);
    std::optional<StoredTranscript> back = store->get(u"a"_s);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->segments.first().text, u"先说的"_s); // kept by start
    EXPECT_EQ(back->speakers, t.speakers);
    EXPECT_EQ(back->title, t.title);
    EXPECT_EQ(back->fetchedAt, t.fetchedAt);

    // A new fetch replaces the old text in the table and in the index.
    t.segments = {{u"1"_s, u"S2"_s, u"全新的内容"_s, 0, 10}};
    store->put(t);
    EXPECT_EQ(store->get(u"a"_s)->segments.size(), 1);
    EXPECT_TRUE(found(*store, u"先说的"_s).isEmpty());
    EXPECT_EQ(found(*store, u"新的内"_s), QStringList{u"a@0"_s});
    EXPECT_EQ(store->transcriptIds(), (QHash<QString, QString>{{u"a"_s, u"tr-a"_s}}));

    EXPECT_TRUE(store->setServiceDeleted(u"a"_s, true));
    EXPECT_TRUE(store->nameSpeaker(u"tr-a"_s, u"S2"_s, u"李雷"_s, true));
    EXPECT_FALSE(store->nameSpeaker(u"tr-none"_s, u"S2"_s, u"李雷"_s, true));
    const TranscriptHit hit = store->search(u"新的"_s, 5).value(0);
    EXPECT_EQ(hit.speaker, u"李雷"_s);
    EXPECT_TRUE(hit.serviceDeleted);
    EXPECT_EQ(store->get(u"missing"_s), std::nullopt);
}

TEST_F(TranscriptStoreTest, FindsPlainTextOfAnyLength)
{
    auto store = open();
    store->put(transcript(u"20251201-090000"_s,
                          {{0, u"今天我们开会讨论预算"_s},
                           {2000, u"预算要再讨论"_s}, // "讨论" and "预算" but not "讨论预算"
                           {4000, u"会"_s},
                           {6000, u"Check the API, \"quoted\" OR NEAR(x) * ^-"_s}}));
    store->put(transcript(u"20251202-090000"_s, {{1000, u"散会"_s}}));

    struct Case {
        QString query;
        QStringList hits;
    };
    const QString a = u"20251201-090000@"_s, b = u"20251202-090000@"_s;
    const QList<Case> cases{
        {u"讨论预算"_s, {a + u"0"_s}},                         // a phrase, not its trigrams apart
        {u"讨论"_s, {a + u"0"_s, a + u"2000"_s}},              // two characters
        {u"会"_s, {a + u"0"_s, a + u"4000"_s, b + u"1000"_s}}, // one, also alone and at the end
        {u"散会"_s, {b + u"1000"_s}},                          // two, at a segment's end
        {u"api"_s, {a + u"6000"_s}},                           // case folded
        {u"\"quoted\" OR"_s, {a + u"6000"_s}},                 // index syntax is text
        {u"NEAR(x) * ^-"_s, {a + u"6000"_s}},
        {u"\""_s, {a + u"6000"_s}},
        {u"*"_s, {a + u"6000"_s}},
        {u"没人说过"_s, {}},
        {u"  "_s, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(found(*store, c.query), c.hits) << c.query.toStdString();
    EXPECT_EQ(found(*store, u"会"_s, 2).size(), 2);
}

TEST_F(TranscriptStoreTest, BestRecordingsFirstAndEachInTimeOrder)
{
    auto store = open();
    store->put(transcript(u"20251201-090000"_s, {{0, u"预算一次"_s}}));
    store->put(transcript(u"20251202-090000"_s,
                          {{9000, u"预算三"_s}, {1000, u"预算一"_s}, {5000, u"预算二"_s}}));
    store->put(transcript(u"20251203-090000"_s, {{0, u"也是预算一次"_s}}));
    EXPECT_EQ(
        found(*store, u"预算"_s),
        (QStringList{u"20251202-090000@1000"_s, u"20251202-090000@5000"_s,
                     u"20251202-090000@9000"_s, u"20251203-090000@0"_s, u"20251201-090000@0"_s}));
}

TEST_F(TranscriptStoreTest, ABrokenFileIsMovedAsideAndReplaced)
{
    QDir().mkpath(dir.path() + u"/out"_s);
    const QByteArray garbage("this is not a database, just bytes the disk made up");
    TestSupport::writeFile(path(), garbage);

    auto store = open();
    store->put(transcript(u"a"_s, {{0, u"重新开始"_s}}));
    EXPECT_EQ(found(*store, u"重新开始"_s), QStringList{u"a@0"_s});
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(
        logged.first().startsWith(u"转写库 transcripts.sqlite 打不开或已损坏，已原样挪到 "_s))
        << logged.first().toStdString();
    const QStringList aside =
        QDir(dir.path() + u"/out"_s).entryList({u"transcripts.sqlite.broken-*"_s});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(TestSupport::readFile(dir.path() + u"/out/"_s + aside.first()), garbage);

    // Readers never move or create anything.
    store.reset();
    TestSupport::writeFile(path(), garbage);
    EXPECT_THROW(TranscriptStore::open(path(), TranscriptStore::Mode::read), TranscriptStoreError);
    EXPECT_EQ(TestSupport::readFile(path()), garbage);
    try {
        TranscriptStore::open(dir.path() + u"/none.sqlite"_s, TranscriptStore::Mode::read);
        ADD_FAILURE();
    } catch (const TranscriptStoreError& e) {
        EXPECT_EQ(e.kind(), TranscriptStoreError::Kind::missing);
    }
}

TEST_F(TranscriptStoreTest, AStoreOfANewerVersionIsLeftAlone)
{
    open()->put(transcript(u"a"_s, {{0, u"以后的版本"_s}}));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"newer"_s);
        db.setDatabaseName(path());
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(u"PRAGMA user_version=%1"_s.arg(TranscriptStore::schemaVersion + 1));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"newer"_s);
    for (const auto mode : {TranscriptStore::Mode::write, TranscriptStore::Mode::read}) {
        try {
            TranscriptStore::open(path(), mode);
            ADD_FAILURE();
        } catch (const TranscriptStoreError& e) {
            EXPECT_EQ(e.kind(), TranscriptStoreError::Kind::newerSchema);
        }
    }
    EXPECT_TRUE(QDir(dir.path() + u"/out"_s).entryList({u"*.broken-*"_s}).isEmpty());
}

TEST_F(TranscriptStoreTest, AStoreOfTheFirstVersionGetsItsNewIndexesAndStaysSearchable)
{
    // What the first version wrote: one recording, its segments, a trigram index by recording.
    QDir().mkpath(dir.path() + u"/out"_s);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"first"_s);
        db.setDatabaseName(path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const QString& sql :
             {u"CREATE TABLE recordings(id INTEGER PRIMARY KEY, base TEXT NOT NULL UNIQUE,"
              " transcript_id TEXT NOT NULL, title TEXT, fetched_at TEXT NOT NULL,"
              " service_deleted INTEGER NOT NULL DEFAULT 0)"_s,
              u"CREATE INDEX recordings_transcript ON recordings(transcript_id)"_s,
              u"CREATE TABLE speakers(recording INTEGER NOT NULL, label TEXT NOT NULL,"
              " name TEXT, confirmed INTEGER NOT NULL DEFAULT 0, row_id TEXT,"
              " PRIMARY KEY(recording, label)) WITHOUT ROWID"_s,
              u"CREATE TABLE segments(id INTEGER PRIMARY KEY, segment_id TEXT,"
              " speaker TEXT NOT NULL, text TEXT NOT NULL, start_ms INTEGER NOT NULL,"
              " end_ms INTEGER NOT NULL)"_s,
              u"CREATE VIRTUAL TABLE segment_index USING fts5(text, content='',"
              " tokenize='trigram', detail='none')"_s,
              u"CREATE VIRTUAL TABLE segment_terms USING fts5vocab(segment_index, 'row')"_s,
              u"INSERT INTO recordings VALUES(3, 'old', 'tr-old', NULL, '2025-01-01', 0)"_s,
              u"INSERT INTO speakers VALUES(3, 'S1', '王芳', 1, NULL)"_s,
              u"INSERT INTO segments VALUES(3145728, '1', 'S1', '先说预算', 0, 1000)"_s,
              u"INSERT INTO segments VALUES(3145729, '2', 'S1', '再说人手', 1000, 2000)"_s,
              u"INSERT INTO segment_index(rowid, text) VALUES(3145728, '先说预算\x01\x01')"_s,
              u"INSERT INTO segment_index(rowid, text) VALUES(3145729, '再说人手\x01\x01')"_s,
              u"PRAGMA user_version=1"_s})
            ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(u"first"_s);

    // Readers wait for the importer; the importer's open brings it up to date.
    EXPECT_THROW(TranscriptStore::open(path(), TranscriptStore::Mode::read), TranscriptStoreError);
    TranscriptStore::upgrade(path());
    auto store = TranscriptStore::open(path(), TranscriptStore::Mode::read);
    EXPECT_EQ(found(*store, u"说"_s), (QStringList{u"old@0"_s, u"old@1000"_s}));
    EXPECT_EQ(found(*store, u"人手"_s), QStringList{u"old@1000"_s});
    EXPECT_EQ(found(*store, u"说预算"_s), QStringList{u"old@0"_s});
    EXPECT_EQ(store->search(u"预算"_s, 1).value(0).speaker, u"王芳"_s);
    store.reset();

    // Written over, the old segments leave both indexes.
    auto writer = open();
    writer->put(transcript(u"old"_s, {{0, u"全部重说"_s}}));
    writer->put(transcript(u"new"_s, {{0, u"人手不够"_s}}));
    EXPECT_TRUE(found(*writer, u"预算"_s).isEmpty());
    EXPECT_TRUE(found(*writer, u"说预"_s).isEmpty());
    EXPECT_EQ(found(*writer, u"说"_s), QStringList{u"old@0"_s});
    EXPECT_EQ(found(*writer, u"人手"_s), QStringList{u"new@0"_s});
    EXPECT_TRUE(logged.isEmpty());
}
