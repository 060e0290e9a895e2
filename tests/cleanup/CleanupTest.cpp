#include "cleanup/Cleanup.h"

#include "cleanup/ArchiveFixture.h"
#include "cleanup/CleanupPlanner.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/TokenStore.h"
#include "sync/SyncPlanner.h"

#include <MindvaultDevServer.h>
#include <functional>
#include <gtest/gtest.h>

using Cleanup::Decision;

namespace {

const QString name = QStringLiteral("20240501-093000");

class LookupFailed : public KestrelError {
public:
    explicit LookupFailed(QString text) : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};

// A stand-in for the service: answers per session id, counting the questions.
struct FakeService {
    std::map<QString, std::optional<SessionState>> answers;
    QString failWith; // non-empty: every lookup throws with this description
    int calls = 0;

    Cleanup::Planner::Lookup lookup()
    {
        return [this](QString id) -> QCoro::Task<std::optional<SessionState>> {
            ++calls;
            if (!failWith.isEmpty()) {
                throw LookupFailed(failWith);
            }
            co_return answers.count(id) ? answers.at(id) : std::nullopt;
        };
    }
};

FileEntry entry(const QString& n, uint32_t time = 3, uint32_t size = 6000)
{
    FileEntry e;
    e.name = n;
    e.time = time;
    e.size = size;
    return e;
}

SessionState ready()
{
    return SessionState{QStringLiteral("ready"), QStringLiteral("t1"), std::nullopt};
}

// Everything holds for the recording `name` (150 packets, 3 s) five days after it was made,
// with three days of cool-off.
struct Pass {
    ArchiveFixture archive;
    FakeService service;
    Cleanup::Context context;

    Pass()
    {
        archive.record(name, 150);
        service.answers[QStringLiteral("s1")] = ready();
        context.uploaded[name] = QStringLiteral("s1");
        context.dest = archive.paths.dest();
        context.rawDir = archive.paths.rawPackets();
        context.coolingDays = 3;
        context.now = Cleanup::recordedAt(name)->addDays(5);
        context.recordStatus = 2;
        ledger({entry(name)});
    }

    // The ledger holds these recordings, archived under their own names.
    void ledger(const QList<FileEntry>& entries)
    {
        for (const FileEntry& e : entries) {
            context.imported.try_emplace(SyncPlanner::manifestKey(e),
                                         SyncManifest::Imported{e.base() + u".ogg", e.size, {}});
        }
    }

    Decision judge(const FileEntry& e)
    {
        Cleanup::Planner planner(service.lookup());
        return TestSupport::run(planner.judge(e, context));
    }
};

// A row of a judging table: what changes in a pass where everything holds, the pen's entry
// (in the ledger unless the change takes it out) and the verdict.
struct JudgeCase {
    const char* what;
    std::function<void(Pass&)> change;
    FileEntry entry;
    bool shouldDelete;
    QString reason;

    // setup comes before the ledger entry and the row's change.
    void check(const std::function<void(Pass&)>& setup = [](Pass&) {}) const
    {
        SCOPED_TRACE(what);
        Pass pass;
        setup(pass);
        pass.ledger({entry});
        change(pass);
        const Decision d = pass.judge(entry);
        EXPECT_EQ(d.name, entry.base());
        EXPECT_EQ(d.shouldDelete, shouldDelete);
        EXPECT_EQ(d.reason, reason);
    }
};

} // namespace

TEST(Cleanup, ReadsTheRecordingTimeFromTheName)
{
    const QDateTime may1(QDate(2024, 5, 1), QTime(9, 30, 0)); // local time
    const struct {
        const char* name;
        std::optional<QDateTime> at;
    } cases[] = {
        {"20240501-093000", may1},
        {"REC_20240501-093000.opus", may1},
        {"20240501-0930001-20250101-000000", may1}, // the first stamp counts
        {"20241301-093000", std::nullopt},          // month 13
        {"20240501-253000", std::nullopt},
        {"20240501_093000", std::nullopt},
        {"2024051-093000", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Cleanup::recordedAt(QString::fromUtf8(c.name)), c.at) << c.name;
    }
}

TEST(Cleanup, KeepsEverythingUnlessThePenIsKnownToBeIdle)
{
    const QList<FileEntry> entries{entry(name + u'.'), entry(QStringLiteral("b"))};
    const struct {
        std::optional<int> status;
        const char* reason;
    } cases[] = {
        {std::nullopt, "设备状态未知，本轮不删任何文件"},
        {1, "设备录音中，本轮不删任何文件"},
        {3, "设备已暂停，本轮不删任何文件"},
        {7, "设备状态 7，本轮不删任何文件"},
    };
    for (const auto& c : cases) {
        Pass pass;
        pass.context.recordStatus = c.status;
        Cleanup::Planner planner(pass.service.lookup());
        const auto plan = TestSupport::run(planner.plan(entries, pass.context));
        const QString reason = QString::fromUtf8(c.reason);
        EXPECT_EQ(plan,
                  (QList<Decision>{{name, false, reason}, {QStringLiteral("b"), false, reason}}));
        EXPECT_EQ(pass.service.calls, 0);
        EXPECT_TRUE(TestSupport::run(planner.plan({}, pass.context)).isEmpty());
    }
    EXPECT_EQ(Cleanup::deviceVeto(entries, 1, Cleanup::wipeVetoSuffix)->first().reason,
              QStringLiteral("设备录音中，不删任何文件"));
    EXPECT_FALSE(Cleanup::deviceVeto(entries, 2, Cleanup::wipeVetoSuffix));
}

TEST(Cleanup, JudgesOneFileByTheFirstConditionThatFails)
{
    const QString cooling = QStringLiteral("还在冷静期（还差 ");
    const JudgeCase cases[] = {
        {"everything holds; the pen lists the name with a trailing dot", [](Pass&) {},
         entry(name + u'.'), true,
         QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 5 天前")},
        {"the pen's current file",
         [](Pass& p) { p.context.deviceCurrent = name + QStringLiteral(".opus"); },
         entry(name + u'.'), false, QStringLiteral("是设备当前文件")},
        {"an empty current file matches nothing",
         [](Pass& p) { p.context.deviceCurrent = QString(); }, entry(name), true,
         QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 5 天前")},
        {"never uploaded", [](Pass& p) { p.context.uploaded.clear(); }, entry(name), false,
         QStringLiteral("没同步过Mindvault")},
        {"uploaded under an empty session id",
         [](Pass& p) { p.context.uploaded[name] = QString(); }, entry(name), false,
         QStringLiteral("没同步过Mindvault")},
        {"the service does not know the session", [](Pass& p) { p.service.answers.clear(); },
         entry(name), false, QStringLiteral("Mindvault状态是 未知，不是 ready")},
        {"still transcribing",
         [](Pass& p) {
             p.service.answers[QStringLiteral("s1")]->status = QStringLiteral("transcribing");
         },
         entry(name), false, QStringLiteral("Mindvault状态是 transcribing，不是 ready")},
        {"no status at all",
         [](Pass& p) { p.service.answers[QStringLiteral("s1")]->status = QString(); }, entry(name),
         false, QStringLiteral("Mindvault状态是 未知，不是 ready")},
        {"ready without a transcript",
         [](Pass& p) { p.service.answers[QStringLiteral("s1")]->transcriptId = QString(); },
         entry(name), false, QStringLiteral("Mindvault没有转写结果")},
        {"lookup fails: the description is cut to 40 characters",
         [](Pass& p) {
             p.service.failWith =
                 QStringLiteral("网").repeated(39) + QStringLiteral("络错误，后面还有很多很多字");
         },
         entry(name), false,
         QStringLiteral("查Mindvault失败：") + QStringLiteral("网").repeated(39) + u'络'},
        {"Ogg file missing", [](Pass& p) { QFile::remove(p.archive.oggPath(name)); }, entry(name),
         false, QStringLiteral("本地留档不全")},
        {"raw file missing", [](Pass& p) { QFile::remove(p.archive.rawPath(name)); }, entry(name),
         false, QStringLiteral("本地留档不全")},
        {"Ogg file is not OggS",
         [](Pass& p) { p.archive.write(p.archive.oggPath(name), "RIFF...."); }, entry(name), false,
         QStringLiteral("ogg 留档损坏（不是 OggS 开头）")},
        {"pen's size differs (reported before the packet check)",
         [](Pass& p) { p.archive.write(p.archive.rawPath(name), QByteArray(4001, 'x')); },
         entry(name, 3, 6000), false, QStringLiteral("字节数对不上（本地 4001 / 设备 6000）")},
        {"raw file not whole packets",
         [](Pass& p) { p.archive.write(p.archive.rawPath(name), QByteArray(4001, 'x')); },
         entry(name, 2, 4001), false, QStringLiteral("裸包长度不是 40 的整数倍")},
        {"75.0 s against 77 s is within tolerance",
         [](Pass& p) { p.archive.write(p.archive.rawPath(name), ArchiveFixture::packets(3750)); },
         entry(name, 77, 150000), true,
         QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 5 天前")},
        {"75.0 s against 78 s is not",
         [](Pass& p) { p.archive.write(p.archive.rawPath(name), ArchiveFixture::packets(3750)); },
         entry(name, 78, 150000), false, QStringLiteral("时长对不上（本地 75.0s / 设备 78s）")},
        {"no stamp in the name",
         [](Pass& p) {
             p.archive.record(QStringLiteral("REC_0003"), 150);
             p.context.uploaded[QStringLiteral("REC_0003")] = QStringLiteral("s1");
         },
         entry(QStringLiteral("REC_0003")), false, QStringLiteral("文件名里解析不出录制时间")},
        {"stamp before 2020",
         [](Pass& p) {
             p.archive.record(QStringLiteral("20191230-120000"), 150);
             p.context.uploaded[QStringLiteral("20191230-120000")] = QStringLiteral("s1");
         },
         entry(QStringLiteral("20191230-120000")), false,
         QStringLiteral("文件名时间戳不可信（设备 RTC 可能没对时），不删")},
        {"stamp more than a day ahead",
         [](Pass& p) { p.context.now = Cleanup::recordedAt(name)->addSecs(-86401); }, entry(name),
         false, QStringLiteral("文件名时间戳不可信（设备 RTC 可能没对时），不删")},
        {"stamp exactly a day ahead is still cooling off",
         [](Pass& p) { p.context.now = Cleanup::recordedAt(name)->addSecs(-86400); }, entry(name),
         false, cooling + QStringLiteral("4 天 0 小时）")},
        {"5 days 3.5 hours into 7 days of cool-off",
         [](Pass& p) {
             p.context.coolingDays = 7;
             p.context.now = Cleanup::recordedAt(name)->addSecs(5 * 86400 + 3 * 3600 + 1800);
         },
         entry(name), false, cooling + QStringLiteral("1 天 20 小时）")},
        {"exactly 7 days into 7 days of cool-off",
         [](Pass& p) {
             p.context.coolingDays = 7;
             p.context.now = Cleanup::recordedAt(name)->addDays(7);
         },
         entry(name), true, QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 7 天前")},
    };
    for (const JudgeCase& c : cases) {
        c.check();
    }
}

TEST(Cleanup, AsksTheServiceOncePerSessionAndAgainAfterAFailure)
{
    Pass pass;
    pass.archive.record(QStringLiteral("20240501-100000"), 150);
    pass.context.uploaded[QStringLiteral("20240501-100000")] = QStringLiteral("s1");
    pass.context.uploaded[QStringLiteral("20240501-110000")] = QStringLiteral("s2");
    const QList<FileEntry> entries{entry(name), entry(QStringLiteral("20240501-100000")),
                                   entry(QStringLiteral("20240501-110000")),
                                   entry(QStringLiteral("20240501-120000"))};
    pass.ledger(entries);

    Cleanup::Planner planner(pass.service.lookup());
    const auto plan = TestSupport::run(planner.plan(entries, pass.context));
    ASSERT_EQ(plan.size(), 4);
    EXPECT_TRUE(plan[0].shouldDelete);
    EXPECT_TRUE(plan[1].shouldDelete);
    EXPECT_EQ(plan[2].reason, QStringLiteral("Mindvault状态是 未知，不是 ready"));
    EXPECT_EQ(plan[3].reason, QStringLiteral("没同步过Mindvault"));
    EXPECT_EQ(pass.service.calls, 2); // s1 once, s2 once

    // An unknown session is remembered for the pass; a failed question is not.
    pass.service.answers[QStringLiteral("s2")] = ready();
    EXPECT_EQ(TestSupport::run(planner.judge(entries[2], pass.context)).reason, plan[2].reason);
    EXPECT_EQ(pass.service.calls, 2);

    Cleanup::Planner failing(pass.service.lookup());
    pass.service.failWith = QStringLiteral("连不上");
    const auto failed = TestSupport::run(failing.plan(entries.mid(0, 2), pass.context));
    EXPECT_EQ(failed[1].reason, QStringLiteral("查Mindvault失败：连不上"));
    EXPECT_EQ(pass.service.calls, 4);
}

// A later recording that reuses an archived name is archived as name-2: it is judged by its own
// ledger entry, upload and files, never by the earlier recording's.
TEST(Cleanup, JudgesEachPenFileAsTheRecordingTheLedgerKeysItBy)
{
    const QString second = name + QStringLiteral("-2");
    const FileEntry earlier = entry(name, 3, 6000);
    const FileEntry later = entry(name, 4, 6000); // same bytes, another length: another key
    const QString deleted = QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 5 天前");
    const JudgeCase cases[] = {
        {"the earlier recording itself", [](Pass&) {}, earlier, true, deleted},
        {"the later one is not uploaded, the earlier one is", [](Pass&) {}, later, false,
         QStringLiteral("没同步过Mindvault")},
        {"the later one is not in the ledger at all",
         [&](Pass& p) { p.context.imported.erase(SyncPlanner::manifestKey(later)); }, later, false,
         QStringLiteral("没同步过Mindvault")},
        {"the later one is transcribed too",
         [&](Pass& p) { p.context.uploaded[second] = QStringLiteral("s1"); }, later, true, deleted},
        {"the later one's own Ogg file is missing",
         [&](Pass& p) {
             p.context.uploaded[second] = QStringLiteral("s1");
             QFile::remove(p.archive.oggPath(second));
         },
         later, false, QStringLiteral("本地留档不全")},
    };
    for (const JudgeCase& c : cases) {
        c.check([&](Pass& p) {
            p.archive.record(second, 150);
            p.context.imported[SyncPlanner::manifestKey(later)] = {second + u".ogg", 6000, {}};
        });
    }
}

// Against the stand-in service: a session it does not know is "unknown", a failing service is a
// failed question, and a client that is gone answers "unknown" without asking.
TEST(Cleanup, AsksTheRealServiceThroughItsClient)
{
    MindvaultDevServer server;
    ASSERT_GT(server.start(), 0);
    QTemporaryDir credentials;
    Mindvault vault(MindvaultConfig::decode(QByteArray::fromStdString(server.clientConfigJson())),
                    TokenStore(credentials.path()));
    TestSupport::run(
        vault.signIn(QStringLiteral("dev@example.com"), QStringLiteral("dev-password")));

    Mindvault* client = &vault;
    Pass pass;
    Cleanup::Planner planner(Cleanup::Planner::serviceLookup([&client] { return client; }));
    EXPECT_EQ(TestSupport::run(planner.judge(entry(name), pass.context)).reason,
              QStringLiteral("Mindvault状态是 未知，不是 ready"));

    server.failStep("status", 500);
    pass.context.uploaded[name] = QStringLiteral("s2");
    EXPECT_TRUE(TestSupport::run(planner.judge(entry(name), pass.context))
                    .reason.startsWith(QStringLiteral("查Mindvault失败：")));

    client = nullptr;
    pass.context.uploaded[name] = QStringLiteral("s3");
    const int asked = server.requestCount("status");
    EXPECT_EQ(TestSupport::run(planner.judge(entry(name), pass.context)).reason,
              QStringLiteral("Mindvault状态是 未知，不是 ready"));
    EXPECT_EQ(server.requestCount("status"), asked);
}
