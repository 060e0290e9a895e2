// A ledger that does not parse: never overwritten, and named with its remedy wherever the user
// looks (the round's log and outcome, status, audit, the exit status of --once).

#include "EngineHarness.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Cut short by another program in the middle of its second line.
const QByteArray cutShort = "{\n  \"imported\": {\"A.opus|1|400\": {\"fi";

} // namespace

TEST(UnreadableLedger, TheRoundSaysOnceWhichFileAndWhatToDoAndFails)
{
    const struct {
        const char* what;
        std::optional<QByteArray> bak;
        QString remedy;
    } cases[] = {
        {"a good backup", R"({"imported": {"A.opus|1|400": {"file": "A.ogg", "bytes": 400,
                                                            "at": "t"}}})",
         u"旁边的 manifest.json.bak 是上一份能读的清单（记着 1 条导入）：把坏的 manifest.json "
         u"挪到别处，再把 manifest.json.bak 复制一份改名为 manifest.json，就能接着用"_s},
        {"a broken backup", "{", u"旁边的 manifest.json.bak 也读不出来"_s},
        {"no backup", std::nullopt, u"旁边没有 manifest.json.bak"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EngineHarness h;
        h.pen().addFile(u"A.opus"_s, VirtualPen::generatePackets(10, 1));
        h.pen().addFile(u"B.opus"_s, VirtualPen::generatePackets(10, 2));
        TestSupport::writeFile(h.paths().manifest(), cutShort);
        if (c.bak)
            TestSupport::writeFile(h.paths().manifest() + u".bak"_s, *c.bak);

        h.round();

        const QString head = u"清单 "_s + h.paths().manifest() +
                             u" 读不出来：JSON 在第 2 行第 36 列（第 38 字节）处断了或不合语法。"_s;
        EXPECT_EQ(h.loggedCount(head), 1);
        const QStringList lines = h.log().filter(head);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].contains(c.remedy)) << lines[0].toStdString();
        EXPECT_TRUE(lines[0].endsWith(u"这份清单原样留着、不会被覆盖。"_s));

        EXPECT_EQ(TestSupport::readFile(h.paths().manifest()), cutShort);
        EXPECT_EQ(h.engine().lastSummary(), u"导入 2 条，清单读不出来，这一轮没记账"_s);
        EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Failed));
    }
}

TEST(UnreadableLedger, StatusAuditAndOnceSayItAndFail)
{
    QTemporaryDir dir;
    const QString root = dir.path() + u"/archive"_s;
    const QString manifest = root + u"/导入/manifest.json"_s;
    TestSupport::writeFile(manifest, cutShort);
    const QString reason = u"清单 "_s + manifest + u" 读不出来：JSON 在第 2 行第 36 列"_s;
    const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;

    const auto once = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN),
        {u"--headless"_s, u"--once"_s, u"--archive-root"_s, root, u"--virtual-pen"_s, scenario});
    EXPECT_EQ(once.exitCode, 1);
    EXPECT_TRUE(once.out.contains(reason)) << once.out.toStdString();

    const auto status = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), {u"status"_s, u"--archive-root"_s, root, u"--offline"_s});
    EXPECT_EQ(status.exitCode, 1);
    EXPECT_TRUE(status.err.contains(reason)) << status.err.toStdString();
    EXPECT_TRUE(status.out.contains(u"清单读不出来，这一轮没记账"_s)) << status.out.toStdString();

    const auto audit = TestSupport::runProgram(QStringLiteral(KESTREL_BIN),
                                               {u"audit"_s, u"--archive-root"_s, root});
    EXPECT_EQ(audit.exitCode, 1);
    EXPECT_TRUE(audit.out.startsWith(reason)) << audit.out.toStdString();

    EXPECT_EQ(TestSupport::readFile(manifest), cutShort);
}
