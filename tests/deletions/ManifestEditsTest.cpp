// The user's ledger edits and the engine's archive audit entry.

#include "sync/ManifestEdits.h"

#include "DeletionBench.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Plan = SyncManifest::Plan;

namespace {

const QString name = u"20251101-080000"_s;

struct EditBench : DeletionBench {
    ManifestEdits edits{harness.engine()};
};

} // namespace

TEST(ManifestEdits, PlanKeepsOnlyWhatIsLeftAfterTrimmingAndNeverTouchesAnUpload)
{
    struct Row {
        const char* what;
        std::optional<QString> title;
        std::optional<QString> project;
        bool uploaded;
        std::optional<Plan> expected; // absent: no plan entry
    };
    const Plan before{u"旧标题"_s, u"p0"_s};
    const QList<Row> rows{
        {"blank title, no project removes the entry", u"   "_s, std::nullopt, false, std::nullopt},
        {"no title, empty project removes the entry", std::nullopt, u""_s, false, std::nullopt},
        {"spaces and tabs go", u" \t周会\t "_s, std::nullopt, false, Plan{u"周会"_s, std::nullopt}},
        {"line breaks stay", u"\n周会 "_s, u"p1"_s, false, Plan{u"\n周会"_s, u"p1"_s}},
        {"project alone", u"\t"_s, u"p1"_s, false, Plan{std::nullopt, u"p1"_s}},
        {"uploaded: unchanged", u"新标题"_s, u"p2"_s, true, before},
        {"uploaded: not even removed", u"  "_s, std::nullopt, true, before},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EditBench bench;
        bench.editManifest([&](SyncManifest& m) {
            m.plan[name] = before;
            if (row.uploaded)
                m.uploaded[name] = u"s1"_s;
        });
        bench.edits.setPlan(name, row.title, row.project);
        const SyncManifest after = bench.harness.manifest();
        const auto it = after.plan.find(name);
        EXPECT_EQ(it == after.plan.end() ? std::nullopt : std::optional<Plan>(it->second),
                  row.expected);
    }
}

TEST(ManifestEdits, TogglingTwiceRestoresTheListLessDuplicates)
{
    struct Row {
        QStringList before;
        QStringList once;
        QStringList twice;
    };
    const QList<Row> rows{
        {{u"x"_s}, {u"x"_s, name}, {u"x"_s}},
        {{name, u"x"_s, name}, {u"x"_s}, {u"x"_s, name}},
        {{}, {name}, {}},
    };
    for (const bool star : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.before.join(u',').toStdString() + (star ? " starred" : " dismissed"));
            EditBench bench;
            const auto list = [&](const SyncManifest& m) {
                return star ? m.starred : m.dismissed;
            };
            bench.editManifest(
                [&](SyncManifest& m) { (star ? m.starred : m.dismissed) = row.before; });
            const auto toggle = [&] {
                if (star)
                    bench.edits.toggleStar(name);
                else
                    bench.edits.toggleDismissed(name);
            };
            toggle();
            EXPECT_EQ(list(bench.harness.manifest()), row.once);
            toggle();
            EXPECT_EQ(list(bench.harness.manifest()), row.twice);
        }
    }
}

TEST(ManifestEdits, RedownloadForgetsTheImportAndTheFailureCounts)
{
    EditBench bench;
    bench.editManifest([](SyncManifest& m) {
        m.imported[name + u".|75|3000"_s] = {name + u".ogg"_s, 3000, u"2025-11-01 09:00:00"_s};
        m.imported[u"20251101-080000.opus|80|3200"_s] = {name + u".ogg"_s, 3200, u""_s};
        m.imported[u"20251101-0800001|75|3000"_s] = {u"y.ogg"_s, 3000, u""_s};
        m.imported[u"20251102-080000|75|3000"_s] = {u"z.ogg"_s, 3000, u""_s};
        m.downloadFailures[name + u"|9|400"_s] = 2;
        m.downloadFailures[u"20251102-080000|75|3000"_s] = 1;
    });

    bench.edits.requestRedownload(name);

    const SyncManifest after = bench.harness.manifest();
    QStringList left;
    for (const auto& [key, imported] : after.imported)
        left.append(key);
    EXPECT_EQ(left, (QStringList{u"20251101-0800001|75|3000"_s, u"20251102-080000|75|3000"_s}));
    EXPECT_EQ(after.downloadFailures.size(), 1u);
    EXPECT_TRUE(bench.harness.logged(
        u"20251101-080000 标记为待重下（清了 2 条导入记录、1 条失败计数），设备下次出现时会重新拉取"_s));
    EXPECT_EQ(bench.engine().lastSummary(), u"20251101-080000 已标记为待重下"_s);

    bench.edits.requestRedownload(name);
    EXPECT_TRUE(
        bench.harness.logged(u"20251101-080000：清单里既没有导入记录也没有失败计数，无事可做"_s));
    EXPECT_EQ(bench.engine().lastSummary(), u"20251101-080000 本来就在待下载队列里"_s);
}

TEST(ManifestEdits, AnUnreadableLedgerIsNeverWrittenBack)
{
    EditBench bench;
    const QByteArray damaged = "{\"imported\": {\"x|1|40\": ";
    TestSupport::writeFile(bench.harness.paths().manifest(), damaged);

    bench.edits.toggleStar(name);
    bench.edits.setPlan(name, u"周会"_s, std::nullopt);
    bench.deletions.requestDeviceDelete(name);
    TestSupport::run(
        bench.deletions.runPendingDeletes(bench.deleteOne, {DeletionBench::entry(name)}, 2, true));

    // The pen file is gone, but the ledger that could not be read stays as it was.
    EXPECT_EQ(bench.asked, QStringList{name});
    EXPECT_EQ(TestSupport::readFile(bench.harness.paths().manifest()), damaged);
    EXPECT_EQ(bench.harness.loggedCount(u"清单没保存成功：拒绝保存：这份清单来自一次失败的读取"_s),
              3);
}

TEST(ManifestEdits, AuditLogsItsSummaryAndRaisesProblems)
{
    EditBench bench;
    bench.edits.install();
    bench.engine().hooks().runArchiveAudit();
    EXPECT_TRUE(bench.harness.logged(u"归档体检：清单里没有任何录音，无可体检"_s));
    EXPECT_TRUE(bench.harness.notes().isEmpty());

    bench.archive(name);
    bench.editManifest([](SyncManifest& m) {
        m.imported[name + u"|5|10000"_s] = {name + u".ogg"_s, 10000, u""_s};
    });
    EXPECT_EQ(bench.edits.runArchiveAudit().healthy(), 1);
    EXPECT_TRUE(bench.harness.notes().isEmpty());

    // A raw file the ledger does not account for is worth a look even when every item is whole.
    TestSupport::writeFile(bench.rawPath(u"20251102-080000"_s), ArchiveFixture::packets(5));
    const ArchiveAudit::Report report = bench.edits.runArchiveAudit();
    EXPECT_TRUE(bench.harness.logged(u"归档体检：1 条：完好 1"_s));
    ASSERT_EQ(bench.harness.notes().size(), 1);
    EXPECT_EQ(bench.harness.notes()[0].title, u"本地归档有问题"_s);
    EXPECT_EQ(bench.harness.notes()[0].body, report.summary());

    TestSupport::writeFile(bench.rawPath(name), ArchiveFixture::packets(5));
    bench.edits.runArchiveAudit();
    ASSERT_EQ(bench.harness.notes().size(), 2);
    EXPECT_EQ(bench.harness.notes()[1].body, u"1 条：字节数不符 1"_s);
}
