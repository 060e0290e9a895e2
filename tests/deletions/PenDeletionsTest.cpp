// Deleting from the pen: carrying out cleanup decisions, the user's queue and its gates, and what
// a deletion would cost. The pen is a stand-in that answers as told.

#include "DeletionBench.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Answer = DeletionBench::Answer;

namespace {

const QString a = u"20251101-080000"_s;
const QString b = u"20251102-080000"_s;
const QString c = u"20251103-080000"_s;

QStringList keysOf(const std::map<QString, QString>& map)
{
    QStringList out;
    for (const auto& [k, v] : map)
        out.append(k);
    return out;
}

} // namespace

// Each file of a row is listed on the pen and decided "delete" unless said otherwise.
TEST(PenDeletions, ExecuteDeletesOnlyWhatStillAuditsWholeAndCountsTheRest)
{
    enum class Local { whole, shortRaw, none };
    struct File {
        QString name;
        Local local = Local::whole;
        Answer answer = Answer::gone;
        bool listed = true;
        bool decided = true;
    };
    struct Row {
        const char* what;
        QList<File> files;
        QString note;
        QStringList deleted;
        QStringList asked;
        int auditLines;
    };
    const QList<Row> rows{
        {"second of three fails its audit",
         {{a}, {b, Local::shortRaw}, {c}},
         u"清理 2 条，删除失败 1 条"_s,
         {a, c},
         {a, c},
         1},
        {"archive gone since the plan", {{a, Local::none}}, u"删除失败 1 条"_s, {}, {}, 1},
        {"pen refuses one and fails on another",
         {{a}, {b, Local::whole, Answer::refuses}, {c, Local::whole, Answer::throws}},
         u"清理 1 条，删除失败 2 条"_s,
         {a},
         {a, b, c},
         0},
        {"names not in the list and files to keep are passed over uncounted",
         {{a, Local::whole, Answer::gone, false},
          {b, Local::whole, Answer::gone, true, false},
          {c}},
         u"清理 1 条"_s,
         {c},
         {c},
         0},
        {"an unsafe pen name is never deleted, even with an archive under it",
         {{u"old/20251101-080000"_s}},
         QString(),
         {},
         {},
         0},
        {"nothing to do", {}, QString(), {}, {}, 0},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DeletionBench bench;
        QList<FileEntry> entries;
        QList<Cleanup::Decision> decisions;
        for (const File& f : row.files) {
            if (f.local != Local::none)
                bench.archive(f.name);
            if (f.local == Local::shortRaw)
                TestSupport::writeFile(bench.rawPath(f.name), ArchiveFixture::packets(249));
            bench.answers[f.name] = f.answer;
            if (f.listed)
                entries.append(DeletionBench::entry(f.name));
            decisions.append({f.name, f.decided, u"…"_s});
        }

        const PenDeletions::Outcome outcome = TestSupport::run(bench.deletions.execute(
            decisions, entries, DeletionBench::ledgerOf(entries), bench.deleteOne));

        EXPECT_EQ(outcome.note, row.note);
        EXPECT_EQ(outcome.deleted, row.deleted.size());
        EXPECT_EQ(bench.asked, row.asked);
        for (double t : bench.timeouts)
            EXPECT_EQ(t, 6.0);
        const SyncManifest manifest = bench.harness.manifest();
        EXPECT_EQ(keysOf(manifest.deleted), row.deleted);
        for (const auto& [name, at] : manifest.deleted)
            EXPECT_EQ(at, DeletionBench::todayStamp());
        EXPECT_EQ(bench.harness.loggedCount(u"删除前体检不过，跳过 "_s), row.auditLines);
    }
}

TEST(PenDeletions, AFailedAuditSaysWhatIsWrong)
{
    DeletionBench bench;
    bench.archive(b);
    TestSupport::writeFile(bench.rawPath(b), ArchiveFixture::packets(249));
    const QList<FileEntry> entries{DeletionBench::entry(b)};
    TestSupport::run(bench.deletions.execute({{b, true, u"…"_s}}, entries,
                                             DeletionBench::ledgerOf(entries), bench.deleteOne));
    EXPECT_TRUE(bench.harness.logged(
        u"删除前体检不过，跳过 20251102-080000：裸包 9960 字节，清单记 10000 字节，少了 40 "
        u"字节——传输没传完或文件被动过"_s));
}

TEST(PenDeletions, QueueWaitsForAnIdlePenAndACompleteList)
{
    struct Row {
        std::optional<uint8_t> status;
        bool complete;
        QString line;
    };
    const QString notIdle = u"设备不在「未录音」状态，本轮不执行人工删除"_s;
    const QList<Row> rows{
        {std::nullopt, true, notIdle},
        {1, true, notIdle},
        {3, true, notIdle},
        {7, false, notIdle},
        {2, false, u"文件列表这轮不完整，人工删除队列原样留着（2 条）"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line.toStdString() + " status " + std::to_string(row.status.value_or(0)));
        DeletionBench bench;
        bench.deletions.enqueue({a, b});
        const int deleted = TestSupport::run(bench.deletions.runPendingDeletes(
            bench.deleteOne, {DeletionBench::entry(a), DeletionBench::entry(b)}, row.status,
            row.complete));
        EXPECT_EQ(deleted, 0);
        EXPECT_EQ(bench.harness.log(), QStringList{row.line});
        EXPECT_EQ(bench.deletions.queued(), (QSet<QString>{a, b}));
        EXPECT_TRUE(bench.asked.isEmpty());
    }

    // An empty queue needs no pen at all and says nothing.
    DeletionBench bench;
    EXPECT_EQ(TestSupport::run(bench.deletions.runPendingDeletes(bench.deleteOne, {}, 1, false)),
              0);
    EXPECT_TRUE(bench.harness.log().isEmpty());
}

TEST(PenDeletions, QueueDeletesWhatThePenConfirmsAndKeepsWhatFailed)
{
    DeletionBench bench;
    const QString refused = u"20251104-080000"_s;
    const QString threw = u"20251105-080000"_s;
    const QString gone = u"20251106-080000"_s;
    const QString withExtension = u"20251107-080000"_s; // listed as ….opus
    const QString unsafe = u"old/20251108-080000"_s;
    bench.answers[refused] = Answer::refuses;
    bench.answers[threw] = Answer::throws;
    bench.deletions.enqueue({a, refused, threw, gone, withExtension, unsafe});
    const QList<FileEntry> entries{
        DeletionBench::entry(a + u'.'), DeletionBench::entry(refused),
        DeletionBench::entry(threw),    DeletionBench::entry(withExtension + u".opus"_s),
        DeletionBench::entry(unsafe),   DeletionBench::entry(c)};
    bench.engine().notePenList(entries);

    const int deleted =
        TestSupport::run(bench.deletions.runPendingDeletes(bench.deleteOne, entries, 2, true));

    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(bench.asked, (QStringList{a + u'.', refused, threw, withExtension + u".opus"_s}));
    EXPECT_EQ(bench.deletions.queued(), (QSet<QString>{refused, threw}));
    const QStringList log = bench.harness.log();
    for (const QString& line : {
             u"已按你的要求从设备删除 20251101-080000：20251101-080000. → 应答 0"_s,
             u"从设备删除 20251104-080000 失败：20251104-080000 → 应答 0"_s,
             u"删除 20251105-080000 时抛错，留在队列里下次再试"_s,
             u"20251106-080000 已不在设备上，从待删队列移除"_s,
             u"已按你的要求从设备删除 20251107-080000：20251107-080000.opus → 应答 0"_s,
         })
        EXPECT_TRUE(log.contains(line)) << line.toStdString();
    EXPECT_EQ(bench.harness.loggedCount(unsafe + u" 在录音笔上的文件名不能安全使用"_s), 1);
    EXPECT_EQ(keysOf(bench.harness.manifest().deleted), (QStringList{a, withExtension}));
    // The list was refreshed: the two failures still show as waiting for deletion.
    int waiting = 0;
    for (const RecordingItem& item : bench.engine().items())
        waiting += item.pendingDeviceDelete ? 1 : 0;
    EXPECT_EQ(waiting, 2);

    // A queued name the pen no longer lists is dropped although nothing was deleted.
    bench.deletions.enqueue({gone});
    EXPECT_EQ(TestSupport::run(bench.deletions.runPendingDeletes(bench.deleteOne, {}, 2, true)), 0);
    EXPECT_TRUE(bench.deletions.queued().isEmpty());
}

TEST(PenDeletions, RequestAndCancelFollowTheQueue)
{
    DeletionBench bench;
    bench.engine().notePenList({DeletionBench::entry(a), DeletionBench::entry(b)});
    const auto flagged = [&] {
        QStringList out;
        for (const RecordingItem& item : bench.engine().items()) {
            if (item.pendingDeviceDelete)
                out.append(item.base);
        }
        return out;
    };

    bench.deletions.requestDeviceDelete(a);
    EXPECT_EQ(bench.deletions.queued(), QSet<QString>{a});
    EXPECT_TRUE(bench.harness.logged(u"已排队从设备删除 20251101-080000，等设备出现时执行"_s));
    EXPECT_EQ(bench.engine().lastSummary(), u"20251101-080000 已排队从设备删除"_s);
    EXPECT_EQ(flagged(), QStringList{a});

    const qsizetype lines = bench.harness.log().size();
    bench.deletions.cancelDeviceDelete(a);
    EXPECT_TRUE(bench.deletions.queued().isEmpty());
    EXPECT_TRUE(flagged().isEmpty());
    EXPECT_EQ(bench.harness.log().size(), lines);
}

TEST(PenDeletions, ImpactNamesWhatWouldBeLost)
{
    struct Row {
        bool local;
        bool uploaded;
        QString text;
    };
    const QString kept = u"本机已有留档，删掉只是设备上少一份，音频不会丢。"_s;
    const QList<Row> rows{
        {true, false, kept},
        {true, true, kept},
        {false, true,
         u"本机没有留档。Mindvault 30 天后会清掉原始音频，之后这段录音就彻底没有了。"_s},
        {false, false, u"本机没有留档，也没进过Mindvault。删掉就是永久消失，无法恢复。"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        DeletionBench bench;
        if (row.local)
            TestSupport::writeFile(bench.rawPath(a), ArchiveFixture::packets(10));
        if (row.uploaded)
            bench.editManifest([](SyncManifest& m) { m.uploaded[a] = u"s1"_s; });
        EXPECT_EQ(bench.deletions.deleteImpact(a), row.text);
    }
}

TEST(PenDeletions, AutomaticCleanupNeedsTheSwitchAndAServiceClient)
{
    DeletionBench bench;
    int borrowed = 0;
    auto run = [&](VaultProvider provider, bool on) {
        PenDeletions deletions(bench.engine(), std::move(provider));
        CleanupSettings settings;
        settings.deleteAfterSync = on;
        return TestSupport::run(deletions.performCleanup(bench.deleteOne, {DeletionBench::entry(a)},
                                                         2, std::nullopt, settings));
    };
    const VaultProvider none = [&borrowed]() -> QCoro::Task<Mindvault*> {
        ++borrowed;
        co_return nullptr;
    };
    const QString skipped = u"清理跳过：没接通Mindvault，无法确认是否已同步"_s;

    const PenDeletions::Outcome off = run(none, false);
    EXPECT_EQ(off.deleted, 0);
    EXPECT_TRUE(off.note.isEmpty());
    EXPECT_EQ(borrowed, 0);

    EXPECT_EQ(run(none, true).note, skipped);
    EXPECT_EQ(borrowed, 1);
    EXPECT_EQ(run(VaultProvider(), true).note, skipped);
    EXPECT_TRUE(bench.asked.isEmpty());
}
