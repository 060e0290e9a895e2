// The archive on a disk that fills up or turns read-only under the importer: the round stops
// and says which folder and what to do, the ledger and the pen stay as they were, and once the
// disk takes writes again the next round carries on from where the last one stopped.
//
// Each test mounts a small tmpfs of its own (ScratchDisk), which needs root; elsewhere they skip.

#include "EngineHarness.h"
#include "cleanup/PenDeletions.h"
#include "support/ScratchDisk.h"
#include "support/TestSupport.h"
#include "sync/WitnessStore.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Every file in the folder, so a stray temporary or half-written file shows.
QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool onPen(EngineHarness& h, const QString& name)
{
    for (const VirtualPen::File& f : h.pen().files()) {
        if (f.name == name)
            return true;
    }
    return false;
}

// Runs `change` once, as the engine starts to download `name`: the disk changes under a
// round already talking to the pen.
void onDownloadStart(EngineHarness& h, const QString& name, std::function<void()> change)
{
    auto pending = std::make_shared<std::function<void()>>(std::move(change));
    QObject::connect(&h.engine(), &SyncEngine::phaseChanged, &h.engine(), [&h, name, pending] {
        const SyncPhase& phase = h.engine().phase();
        if (*pending && phase.is(SyncPhase::Kind::Downloading) && phase.name() == name)
            std::exchange(*pending, nullptr)();
    });
}

const QString stopTail =
    u"这一轮先停在这里；问题解决后，下一轮会接着导入，没导完的录音都留在录音笔上。"_s;

} // namespace

TEST(DiskFull, TheRoundStopsSaysSoKeepsLedgerAndPenAndResumesOnceThereIsSpace)
{
    ScratchDisk disk(1024 * 1024);
    if (!disk.problem().empty())
        GTEST_SKIP() << disk.problem();
    EngineHarness h(disk.path() + u"/archive"_s);
    PenDeletions deletions(h.engine(), VaultProvider());
    deletions.install();

    const QByteArray a = VirtualPen::generatePackets(100, 1);  // 4000 bytes
    const QByteArray b = VirtualPen::generatePackets(1000, 2); // 40000 bytes
    const QByteArray c = VirtualPen::generatePackets(1000, 3);
    h.pen().addFile(u"A.opus"_s, a);
    h.pen().addFile(u"B.opus"_s, b);
    h.pen().addFile(u"C.opus"_s, c);
    // Links 1 and 2 drop: after A and 12000 bytes of B, then 18000 bytes into B's resume.
    h.pen().faults().dropAfterBytes = {16000, 18000};

    h.round();
    ASSERT_EQ(h.raw(u"A"_s), a);
    const QString partPath = h.engine().partialPath(u"B"_s, u".part"_s);
    ASSERT_EQ(TestSupport::readFile(partPath).size(), 12000);
    const QByteArray ledger = TestSupport::readFile(h.paths().manifest());
    const QString rawFolder = h.paths().rawPackets();
    const QStringList destBefore = filesIn(h.paths().dest());
    const QStringList rawBefore = filesIn(rawFolder);
    const auto fullFor = [&](const QString& file) -> QString {
        return u"磁盘满了：文件夹 "_s + rawFolder + u" 所在的磁盘没有空间了，"_s + file +
               u" 写不进去。请在这块磁盘上腾出空间（删掉用不着的大文件、清空回收站）。"_s;
    };
    // The user asked for A to go: a round that cannot archive leaves the pen alone.
    deletions.enqueue({u"A.opus"_s});

    // The disk fills while B resumes, and link 2 drops with 30000 bytes of B held, too many to
    // keep: the old breakpoint stays and nothing claims a new one.
    onDownloadStart(h, u"B.opus"_s, [&] { ASSERT_TRUE(disk.fillLeaving(16 * 1024)); });
    h.round();
    const QString partFull = fullFor(u"B.part"_s);
    EXPECT_TRUE(
        h.logged(u"断线中断 B.opus：收到的 30000/40000 B 没能存成断点，不计失败——"_s + partFull))
        << h.log().join(u'\n').toStdString();
    EXPECT_TRUE(h.logged(u"同步停下："_s + partFull + stopTail));

    // With the disk still full the pen is not even asked for B, nor for C after it.
    h.pen().clearRequests();
    h.round();
    const QString full = fullFor(u"B.opus"_s);
    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_TRUE(h.logged(u"先不下 B.opus："_s + full));
    EXPECT_EQ(h.engine().notes().errors().value(u"B"_s), full);
    EXPECT_EQ(h.engine().lastSummary(), u"跳过 1 条已导，"_s + full + stopTail);
    EXPECT_EQ(h.engine().phase(), SyncPhase::failed(full + stopTail));

    EXPECT_EQ(TestSupport::readFile(h.paths().manifest()), ledger);
    EXPECT_EQ(TestSupport::readFile(partPath), b.first(12000));
    EXPECT_EQ(filesIn(h.paths().dest()), destBefore);
    EXPECT_EQ(filesIn(rawFolder), rawBefore);
    EXPECT_TRUE(onPen(h, u"A.opus"_s));
    // B's breakpoint waits for space, not for the pen: no hurried 15 s reconnects meanwhile,
    // only the back-off of two empty rounds.
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 300);

    ASSERT_TRUE(disk.dropFiller());
    h.pen().clearRequests();
    h.round();
    ASSERT_FALSE(h.importRequests().isEmpty());
    EXPECT_EQ(h.importRequests()[0], std::make_pair(u"B.opus"_s, 12000u));
    EXPECT_EQ(h.raw(u"B"_s), b);
    EXPECT_EQ(h.raw(u"C"_s), c);
    EXPECT_TRUE(EngineHarness::decodedSamples(h.ogg(u"C"_s)).has_value());
    EXPECT_EQ(h.manifest().imported.size(), 3u);
    EXPECT_TRUE(h.manifest().downloadFailures.empty());
    EXPECT_TRUE(h.partialFiles().isEmpty());
    EXPECT_FALSE(onPen(h, u"A.opus"_s)); // the queued deletion was only waiting
    EXPECT_FALSE(h.engine().phase().is(SyncPhase::Kind::Failed));
}

TEST(DiskFull, AReadOnlyArchiveIsNamedAndTouchesNeitherLedgerNorPen)
{
    ScratchDisk disk(1024 * 1024);
    if (!disk.problem().empty())
        GTEST_SKIP() << disk.problem();
    const QString root = disk.path() + u"/archive"_s;
    const QByteArray a = VirtualPen::generatePackets(100, 1);
    const QByteArray b = VirtualPen::generatePackets(100, 2);

    {
        SCOPED_TRACE("the archive folders cannot even be made");
        ASSERT_TRUE(disk.remount(true));
        EngineHarness h(root);
        h.pen().addFile(u"A.opus"_s, a);
        h.round();
        const QString text = u"建不了导入目录：文件夹 "_s + disk.path() +
                             u" 是只读的，archive 写不进去。"
                             u"请让它可写（比如把它所在的磁盘重新挂载为可读写）。"_s;
        EXPECT_TRUE(h.logged(text)) << h.log().join(u'\n').toStdString();
        EXPECT_EQ(h.engine().phase(), SyncPhase::failed(text));
        EXPECT_EQ(h.pen().connectionCount(), 0);
        ASSERT_TRUE(disk.remount(false));
    }

    EngineHarness h(root);
    PenDeletions deletions(h.engine(), VaultProvider());
    deletions.install();
    h.pen().addFile(u"A.opus"_s, a);
    h.round();
    ASSERT_EQ(h.raw(u"A"_s), a);
    const QByteArray ledger = TestSupport::readFile(h.paths().manifest());
    const QString readOnly = u"文件夹 "_s + h.paths().rawPackets() +
                             u" 是只读的，B.opus 写不进去。"
                             u"请让它可写（比如把它所在的磁盘重新挂载为可读写）。"_s;

    // The disk turns read-only while B downloads.
    h.pen().addFile(u"B.opus"_s, b);
    deletions.enqueue({u"A.opus"_s});
    onDownloadStart(h, u"B.opus"_s, [&] { ASSERT_TRUE(disk.remount(true)); });
    h.round();
    EXPECT_TRUE(h.logged(u"落盘失败："_s + readOnly)) << h.log().join(u'\n').toStdString();
    EXPECT_TRUE(h.logged(u"同步停下："_s + readOnly + stopTail));
    EXPECT_TRUE(h.engine().lastSummary().endsWith(readOnly + stopTail));
    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Failed));
    EXPECT_EQ(TestSupport::readFile(h.paths().manifest()), ledger);
    EXPECT_TRUE(onPen(h, u"A.opus"_s));
    EXPECT_TRUE(onPen(h, u"B.opus"_s));

    // Still read-only: the pen is not asked for B again.
    h.pen().clearRequests();
    h.round();
    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_TRUE(h.logged(u"先不下 B.opus："_s + readOnly));

    ASSERT_TRUE(disk.remount(false));
    h.round();
    EXPECT_EQ(h.raw(u"B"_s), b);
    EXPECT_FALSE(onPen(h, u"A.opus"_s));
    EXPECT_FALSE(h.engine().phase().is(SyncPhase::Kind::Failed));
}

TEST(DiskFull, SettingsAndEvidenceThatCannotBeSavedAreSaidSoAndTheOldFilesStand)
{
    ScratchDisk disk(1024 * 1024);
    if (!disk.problem().empty())
        GTEST_SKIP() << disk.problem();
    EngineHarness h(disk.path() + u"/archive"_s);
    h.engine().paths().ensureDirs();
    const CleanupSettings before{true, 3, 300};
    h.engine().setCleanup(before);
    const QByteArray settings = TestSupport::readFile(h.paths().cleanupSettings());
    ASSERT_FALSE(settings.isEmpty());
    ASSERT_TRUE(disk.remount(true));

    const CleanupSettings after{false, 7, 0};
    h.engine().setCleanup(after);
    const QString settingsText =
        u"设置没能存下来（这次运行照新设置办，重启后会回到原来的设置）："_s;
    const QString readOnly = u" 是只读的，swift-settings.json 写不进去。"_s;
    ASSERT_EQ(h.notes().size(), 1);
    EXPECT_TRUE(h.notes()[0].body.startsWith(settingsText)) << h.notes()[0].body.toStdString();
    EXPECT_TRUE(h.notes()[0].body.contains(readOnly)) << h.notes()[0].body.toStdString();
    EXPECT_TRUE(h.logged(h.notes()[0].body));
    EXPECT_EQ(h.engine().cleanup(), after); // this run goes by what the user chose
    EXPECT_EQ(TestSupport::readFile(h.paths().cleanupSettings()), settings);

    // The live evidence, kept by the store the engine holds on this archive.
    WitnessStore store(h.paths().witnesses(), [&](const QString& line) { h.engine().log(line); });
    store.observe(1, u"20260301-090000.opus"_s, h.engine().now());
    EXPECT_EQ(store.witnesses().size(), 1u); // kept in memory, written at the next addition
    EXPECT_FALSE(QFile::exists(h.paths().witnesses()));
    EXPECT_TRUE(std::any_of(h.log().cbegin(), h.log().cend(), [](const QString& line) {
        return line.startsWith(u"现场证据没能存下来：文件夹 "_s) &&
               line.contains(u" 是只读的，录音时刻证据.json 写不进去。"_s);
    })) << h.log().join(u'\n').toStdString();
}
