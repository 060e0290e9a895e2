#include "sync/SyncManifest.h"

#include "support/TestSupport.h"
#include "sync/FileError.h"
#include "sync/SyncLog.h"
#include "sync/SyncPlanner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace Qt::StringLiterals;

namespace {

struct Archive {
    QTemporaryDir tmp;
    QString path = tmp.path() + u"/导入/manifest.json"_s;
    SyncLog log{tmp.path() + u"/out/log.txt"_s, [] {
                    return QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5));
                }};

    QByteArray logText() const { return TestSupport::readFile(tmp.path() + u"/out/log.txt"_s); }
};

SyncManifest sample()
{
    SyncManifest m;
    m.imported[u"20250601-205810.opus|120|240000"_s] = {u"20250601-205810.ogg"_s, 240000,
                                                        u"2025-06-01 21:00:00"_s};
    m.uploaded[u"20250601-205810"_s] = u"sess/1"_s; // slashes stay unescaped on disk
    m.deleted[u"old.opus"_s] = u"2025-05-01 10:00:00"_s;
    m.starred = {u"20250601-205810"_s};
    m.dismissed = {u"a"_s, u"b"_s};
    m.missingOnServer[u"gone"_s] = u"2025-05-02 10:00:00"_s;
    m.pollFailures[u"slow"_s] = 3;
    m.plan[u"20250601-205810"_s] = {u"周会"_s, std::nullopt};
    m.plan[u"empty"_s] = {};
    m.downloadFailures[u"x.opus|1|40"_s] = 2;
    m.repushRounds[u"20250601-205810"_s] = 1;
    return m;
}

} // namespace

TEST(SyncManifest, LoadingIsLenientPerKeyButRefusesUnreadableFiles)
{
    const struct {
        const char* what;
        std::optional<QByteArray> content; // absent: no file
        bool trustworthy;
        size_t imported;
        size_t uploaded;
    } cases[] = {
        {"no file", std::nullopt, true, 0, 0},
        {"not json", "{\"imported\": {", false, 0, 0},
        {"not an object", "[1, 2]", false, 0, 0},
        {"empty file", "", false, 0, 0},
        {"damaged key", R"({"imported": 5, "uploaded": {"a": "s1"}})", true, 0, 1},
        {"one bad entry costs only itself",
         R"({"imported": {"k|1|40": {"file": "k.ogg", "bytes": 40, "at": "t"},
                          "j|1|40": {"file": "j.ogg", "at": "t"}},
             "uploaded": {"a": "s1", "b": 2, "c": "s3"}})",
         true, 1, 2},
        {"some keys only", R"({"imported": {"k|1|40": {"file": "k.ogg", "bytes": 40, "at": "t"}}})",
         true, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Archive a;
        if (c.content) {
            TestSupport::writeFile(a.path, *c.content);
        }
        const SyncManifest m = SyncManifest::load(a.path);
        EXPECT_EQ(m.isTrustworthy, c.trustworthy);
        EXPECT_EQ(m.imported.size(), c.imported);
        EXPECT_EQ(m.uploaded.size(), c.uploaded);
    }
}

TEST(SyncManifest, AnUntrustworthyLedgerIsNeverWritten)
{
    Archive a;
    const QByteArray damaged = "{\"imported\": {\"k|1|40\": {\"file\"";
    TestSupport::writeFile(a.path, damaged);

    SyncManifest m = SyncManifest::load(a.path);
    m.uploaded[u"new"_s] = u"s"_s; // a change derived from the failed read
    EXPECT_THROW(m.save(a.path), SyncManifest::SaveError);
    EXPECT_FALSE(m.persist(a.path, a.log));
    EXPECT_FALSE(SyncManifest::modify(a.path, a.log, [](SyncManifest& mm) { mm.starred = {}; }));

    EXPECT_EQ(TestSupport::readFile(a.path), damaged);
    EXPECT_FALSE(QFile::exists(a.path + u".bak"_s));
    const QString line = u"[01-02 03:04:05] 清单没保存成功：拒绝保存：这份清单来自一次失败的读取，"
                         u"写回去会把整本账抹掉——这一轮的记账没写下去，下一轮会重来\n"_s;
    EXPECT_EQ(a.logText(), (line + line).toUtf8());
}

TEST(SyncManifest, SavesSortedPrettyAndKeepsOneBackup)
{
    Archive a;
    SyncManifest::fresh().save(a.path); // no file yet: created, and nothing to back up
    EXPECT_FALSE(QFile::exists(a.path + u".bak"_s));
    const QByteArray first = TestSupport::readFile(a.path);

    const SyncManifest m = sample();
    m.save(a.path);
    EXPECT_EQ(TestSupport::readFile(a.path + u".bak"_s), first);
    EXPECT_EQ(SyncManifest::load(a.path), m);

    const QByteArray text = TestSupport::readFile(a.path);
    EXPECT_TRUE(text.contains("\"sess/1\"")) << "slash escaped";
    EXPECT_TRUE(text.contains('\n')) << "not pretty-printed";
    EXPECT_TRUE(text.contains("\"empty\": {}")) << "a plan with nothing encodes as {}";
    EXPECT_TRUE(text.contains("\"周会\"")) << "non-ASCII escaped";

    // Top-level keys: all ten, in sorted order; Imported fields sorted too.
    QList<qsizetype> at;
    for (const char* key :
         {"deleted", "dismissed", "downloadFailures", "imported", "missingOnServer", "plan",
          "pollFailures", "repushRounds", "starred", "uploaded"}) {
        at.append(text.indexOf(QByteArray(QByteArray("\n  \"") + key + "\":")));
        EXPECT_GE(at.last(), 0) << key;
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
    const qsizetype atKey = text.indexOf("\"at\""), bytesKey = text.indexOf("\"bytes\""),
                    fileKey = text.indexOf("\"file\"");
    EXPECT_LT(atKey, bytesKey);
    EXPECT_LT(bytesKey, fileKey);

    // A damaged key is dropped by the next save; the previous content survives in .bak.
    TestSupport::writeFile(a.path, text);
    QByteArray damaged = text;
    damaged.replace("\"pollFailures\": {\n    \"slow\": 3\n  }", "\"pollFailures\": \"x\"");
    ASSERT_NE(damaged, text);
    TestSupport::writeFile(a.path, damaged);
    SyncManifest partly = SyncManifest::load(a.path);
    EXPECT_TRUE(partly.isTrustworthy);
    EXPECT_TRUE(partly.pollFailures.empty());
    EXPECT_EQ(partly.imported, m.imported);
    EXPECT_TRUE(partly.persist(a.path, a.log));
    EXPECT_EQ(TestSupport::readFile(a.path + u".bak"_s), damaged);
    EXPECT_TRUE(SyncManifest::load(a.path).pollFailures.empty());
}

TEST(SyncManifest, SavesNeverDropAnEntryThatCouldNotBeRead)
{
    Archive a;
    TestSupport::writeFile(a.path, R"({
        "imported": {"k|1|40": {"file": "k.ogg", "bytes": 40, "at": "t"},
                     "j|1|40": {"file": "j.ogg", "at": "t", "extra": [1, 2]}},
        "uploaded": {"a": "s1", "b": {"id": "s2"}},
        "starred": ["a", 7, "b"]})");

    SyncManifest m = SyncManifest::load(a.path);
    EXPECT_EQ(m.starred, QStringList({u"a"_s, u"b"_s}));
    m.uploaded[u"c"_s] = u"s3"_s;
    ASSERT_TRUE(m.persist(a.path, a.log));
    // A second save in the same round: neither the file nor its backup may have lost them.
    ASSERT_TRUE(SyncManifest::modify(a.path, a.log, [](SyncManifest& mm) { mm.starred = {}; }));

    for (const QString& path : QStringList{a.path, a.path + u".bak"_s}) {
        SCOPED_TRACE(path.toStdString());
        const auto doc = nlohmann::json::parse(TestSupport::readFile(path).toStdString());
        EXPECT_EQ(doc["imported"]["j|1|40"],
                  nlohmann::json::parse(R"({"file": "j.ogg", "at": "t", "extra": [1, 2]})"));
        EXPECT_EQ(doc["imported"]["k|1|40"]["bytes"], 40);
        EXPECT_EQ(doc["uploaded"],
                  nlohmann::json::parse(R"({"a": "s1", "b": {"id": "s2"}, "c": "s3"})"));
    }

    // Writing the entry anew replaces what could not be read.
    ASSERT_TRUE(SyncManifest::modify(a.path, a.log, [](SyncManifest& mm) {
        mm.imported[u"j|1|40"_s] = {u"j.ogg"_s, 40, u"t2"_s};
    }));
    const SyncManifest after = SyncManifest::load(a.path);
    EXPECT_FALSE(after.unread.contains(u"imported"_s));
    EXPECT_EQ(after.imported.at(u"j|1|40"_s).at, u"t2"_s);
    EXPECT_EQ(after.uploaded.size(), 2u);
}

TEST(SyncManifest, FailedWriteThrowsAndIsLogged)
{
    Archive a;
    // A folder where the ledger should be: the rename over it fails, whoever runs the test.
    QDir().mkpath(a.path);
    EXPECT_THROW(SyncManifest::fresh().save(a.path), FileError);
    EXPECT_FALSE(SyncManifest::fresh().persist(a.path, a.log));
    EXPECT_TRUE(QFileInfo(a.path).isDir());
    EXPECT_TRUE(a.logText().startsWith("[01-02 03:04:05] 清单没保存成功："));
    EXPECT_TRUE(a.logText().endsWith("——这一轮的记账没写下去，下一轮会重来\n"));
}

TEST(SyncManifest, ModifyIsLoadChangeSave)
{
    Archive a;
    sample().save(a.path);
    // Same name, different size: a different recording under a key of its own.
    const QString small = SyncPlanner::manifestKey({1, 80, u"y.opus"_s, {}});
    const QString large = SyncPlanner::manifestKey({1, 120, u"y.opus"_s, {}});
    EXPECT_TRUE(SyncManifest::modify(a.path, a.log, [&](SyncManifest& m) {
        m.downloadFailures[u"x.opus|1|40"_s] += 1;
        m.imported[small] = {u"y.ogg"_s, 80, u"t"_s};
        m.imported[large] = {u"y-2.ogg"_s, 120, u"t"_s};
    }));
    const SyncManifest after = SyncManifest::load(a.path);
    EXPECT_EQ(after.downloadFailures.at(u"x.opus|1|40"_s), 3);
    EXPECT_EQ(after.imported.size(), 3u);
    EXPECT_EQ(after.imported.at(small).bytes, 80);
    EXPECT_EQ(after.imported.at(large).bytes, 120);
    EXPECT_TRUE(a.logText().isEmpty());
}
