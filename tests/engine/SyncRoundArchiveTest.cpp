// The round's archive side against the virtual pen: partial downloads that nothing will resume,
// what the summary promises, and names that must never overwrite an archived recording.

#include "EngineHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncPlanner.h"

#include <QFile>
#include <QSet>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

FileEntry listed(EngineHarness& h, const QString& name)
{
    for (const VirtualPen::File& f : h.pen().files()) {
        if (f.name == name)
            return {f.time, uint32_t(f.content.size()), f.name, {}};
    }
    return {};
}

void writePartial(EngineHarness& h, const QString& base, const QByteArray& bytes,
                  uint32_t announced)
{
    TestSupport::writeFile(h.engine().partialPath(base, u".part"_s), bytes);
    TestSupport::writeFile(h.engine().partialPath(base, u".part.size"_s),
                           QByteArray::number(announced));
}

} // namespace

TEST(SyncRoundArchive, APartialNothingWillResumeIsDropped)
{
    const QByteArray a = VirtualPen::generatePackets(100, 1); // 4000 bytes
    struct Case {
        const char* what;
        bool rawOnDisk; // the process died after writing the raw file
        bool oggOnDisk;
        QString logLine;
    };
    const Case cases[] = {
        {"file gone from the pen", false, false, {}},
        {"died before the ledger: back-filled", true, true,
         u"补记 1 条：本地已有完整副本但清单没记账，A"_s},
        {"died before the Ogg file: re-wrapped", true, false,
         u"重封 A：裸包完整但 ogg 缺失，本地补封成功（没有重下）"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineHarness h;
        if (c.rawOnDisk) {
            h.pen().addFile(u"A.opus"_s, a);
            TestSupport::writeFile(h.paths().rawPackets() + u"/A.opus"_s, a);
        }
        if (c.oggOnDisk)
            TestSupport::writeFile(h.paths().dest() + u"/A.ogg"_s, "ogg bytes");
        writePartial(h, u"A"_s, a.first(1000), 4000);

        h.round();

        EXPECT_TRUE(h.importRequests().isEmpty());
        EXPECT_TRUE(c.logLine.isEmpty() || h.logged(c.logLine)) << c.logLine.toStdString();
        EXPECT_TRUE(h.partialFiles().isEmpty());
        EXPECT_TRUE(h.logged(u"删掉用不上的断点：A（录音已完整、已放弃或已不在录音笔上）"_s));
        // The loop waits the backed-off interval, and the log says the interval it waits.
        EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 120);
        EXPECT_TRUE(h.logged(u"空转第 1 轮，下次重连间隔 120s"_s));
    }
}

TEST(SyncRoundArchive, APartialIsKeptWhileTheListMayBeIncomplete)
{
    EngineHarness h;
    h.pen().faults().unanswered = {u"list"_s}; // no end frame: files may be missing from it
    writePartial(h, u"C"_s, VirtualPen::generatePackets(25, 3), 4000);

    h.round();

    EXPECT_EQ(h.partialFiles().size(), 2);
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 15);
}

TEST(SyncRoundArchive, APartialOfAFileSkippedForThisRoundIsKept)
{
    EngineHarness h;
    const QByteArray a = VirtualPen::generatePackets(100, 6); // 4000 bytes
    h.pen().addFile(u"A.opus"_s, a);
    writePartial(h, u"A"_s, a.first(1000), 4000);
    // Recording, with no name to go by: every file is skipped for this round only.
    h.pen().setRecordStatus(3);

    h.round();

    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_EQ(h.partialFiles().size(), 2);
    EXPECT_EQ(h.loggedCount(u"删掉用不上的断点"_s), 0);
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 15);

    h.pen().setRecordStatus(0);
    h.round();
    ASSERT_EQ(h.importRequests().size(), 1);
    EXPECT_EQ(h.importRequests()[0].second, 1000u); // resumed, not from byte 0
    EXPECT_EQ(h.raw(u"A"_s), a);
    EXPECT_TRUE(h.partialFiles().isEmpty());
}

TEST(SyncRoundArchive, GivingUpEndsThePartial)
{
    EngineHarness h;
    const QByteArray g = VirtualPen::generatePackets(100, 4);
    h.pen().addFile(u"G.opus"_s, g);
    h.pen().faults().unknownNames = listed(h, u"G.opus"_s).candidates();
    SyncManifest::modify(h.paths().manifest(), h.engine().syncLog(), [&](SyncManifest& m) {
        m.downloadFailures[SyncPlanner::manifestKey(listed(h, u"G.opus"_s))] = 4;
    });
    writePartial(h, u"G"_s, g.first(1000), 4000);

    h.round();

    EXPECT_EQ(h.loggedCount(u"G 连续 5 次下载失败"_s), 1);
    EXPECT_TRUE(h.partialFiles().isEmpty());
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 120);
    // A failure for good is not a transfer that will resume.
    EXPECT_EQ(h.engine().lastSummary(), u"1 条没能导入（原因见各条录音）"_s);
}

TEST(SyncRoundArchive, AnIncompleteTransferDiscardsItsPartial)
{
    EngineHarness h;
    // Listed and sent in full, but not whole packets: never a complete raw recording.
    const QByteArray odd = VirtualPen::generatePackets(100, 5) + "xyz";
    h.pen().addFile(u"H.opus"_s, odd);
    writePartial(h, u"H"_s, odd.first(1000), uint32_t(odd.size()));

    h.round();

    ASSERT_EQ(h.importRequests().size(), 1);
    EXPECT_EQ(h.importRequests()[0].second, 1000u);
    EXPECT_EQ(h.loggedCount(u"下载不完整 H.opus"_s), 1);
    EXPECT_TRUE(h.partialFiles().isEmpty());

    h.pen().clearRequests();
    h.round();
    ASSERT_EQ(h.importRequests().size(), 1);
    EXPECT_EQ(h.importRequests()[0].second, 0u); // from the start, not from the bad partial
}

TEST(SyncRoundArchive, TheSummaryPromisesAResumeOnlyForBrokenTransfers)
{
    EngineHarness h;
    h.pen().addFile(u"D.opus"_s, VirtualPen::generatePackets(100, 6));
    h.pen().addFile(u"E.opus"_s, VirtualPen::generatePackets(10, 7));
    h.pen().faults().unknownNames = listed(h, u"D.opus"_s).candidates();
    h.pen().faults().dropAfterBytes = {200};

    h.round();

    EXPECT_EQ(h.engine().lastSummary(),
              u"还有 1 条没下完，下次连上接着下，1 条没能导入（原因见各条录音）"_s);
}

TEST(SyncRoundArchive, ARecordingNeverReplacesAnotherArchivedUnderTheSameName)
{
    const QByteArray first = VirtualPen::generatePackets(100, 10);
    const QByteArray second = VirtualPen::generatePackets(100, 11); // same size, other sound
    const QByteArray container = "OggS" + QByteArray(396, 'c');
    struct Case {
        const char* what;
        std::function<void(EngineHarness&)> setUp;
        QString base;         // the name both want
        QByteArray kept;      // what must stay under base
        QByteArray newcomer;  // what must arrive under base-2 (raw packet file)
        QString newcomerDest; // and its file in the import folder
    };
    const QList<Case> cases{
        {"the pen's clock reset after the old recording was cleaned from it",
         [&](EngineHarness& h) {
             TestSupport::writeFile(h.paths().rawPackets() + u"/X.opus"_s, first);
             TestSupport::writeFile(h.paths().dest() + u"/X.ogg"_s, "old ogg");
             SyncManifest::modify(h.paths().manifest(), h.engine().syncLog(), [](SyncManifest& m) {
                 m.imported[u"X.opus|5|4000"_s] = {u"X.ogg"_s, 4000, u"t"_s};
                 m.uploaded[u"X"_s] = u"s-old"_s;
             });
             h.pen().addFile(u"X.opus"_s, second, 9);
         },
         u"X"_s, first, second, u"X-2.ogg"_s},
        {"only the old Ogg file is left, and no ledger",
         [&](EngineHarness& h) {
             TestSupport::writeFile(h.paths().dest() + u"/X.ogg"_s, "the only copy");
             h.pen().addFile(u"X.opus"_s, second);
         },
         u"X"_s,
         {},
         second,
         u"X-2.ogg"_s},
        {"X.opus next to X.wav",
         [&](EngineHarness& h) {
             h.pen().addFile(u"X.opus"_s, first);
             h.pen().addFile(u"X.wav"_s, second);
         },
         u"X"_s, first, second, u"X-2.ogg"_s},
        {"a container Y.ogg next to Y.opus",
         [&](EngineHarness& h) {
             h.pen().addFile(u"Y.opus"_s, first);
             h.pen().addFile(u"Y.ogg"_s, container);
         },
         u"Y"_s, first, container, u"Y-2.ogg"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineHarness h;
        c.setUp(h);
        const QByteArray oggBefore = h.ogg(c.base);

        h.round();

        EXPECT_EQ(h.raw(c.base), c.kept);
        if (!oggBefore.isEmpty()) {
            EXPECT_EQ(h.ogg(c.base), oggBefore);
        } else {
            EXPECT_EQ(EngineHarness::decodedSamples(h.ogg(c.base)), 100 * 960 - 312);
        }
        EXPECT_EQ(h.raw(c.base + u"-2"_s), c.newcomer);
        const QByteArray dest = TestSupport::readFile(h.paths().dest() + u'/' + c.newcomerDest);
        if (c.newcomer == container) {
            EXPECT_EQ(dest, container);
        } else {
            EXPECT_EQ(EngineHarness::decodedSamples(dest), 100 * 960 - 312);
        }
        EXPECT_TRUE(
            h.logged(c.base + u" 这个名字已归档了另一条录音，这一条存为 "_s + c.base + u"-2"_s));

        // Every recording on the pen has a ledger entry of its own, and none is left to fetch.
        const SyncManifest m = h.manifest();
        QStringList files;
        for (const VirtualPen::File& f : h.pen().files())
            files.append(m.imported.at(SyncPlanner::manifestKey(listed(h, f.name))).file);
        EXPECT_TRUE(files.contains(c.newcomerDest));
        EXPECT_EQ(QSet<QString>(files.begin(), files.end()).size(), files.size());
        h.pen().clearRequests();
        h.round();
        EXPECT_TRUE(h.importRequests().isEmpty());
    }
}

TEST(SyncRoundArchive, AnIdenticalDownloadTakesItsOwnName)
{
    EngineHarness h;
    const QByteArray packets = VirtualPen::generatePackets(50, 12);
    h.pen().addFile(u"Z.opus"_s, packets);
    h.round();
    const QByteArray ogg = h.ogg(u"Z"_s);
    ASSERT_FALSE(ogg.isEmpty());
    // The raw file and the ledger entry are lost; the Ogg file is this very recording's.
    QFile::remove(h.paths().rawPackets() + u"/Z.opus"_s);
    QFile::remove(h.paths().manifest());

    h.round();

    EXPECT_EQ(h.raw(u"Z"_s), packets);
    EXPECT_EQ(h.ogg(u"Z"_s), ogg);
    EXPECT_FALSE(QFile::exists(h.paths().dest() + u"/Z-2.ogg"_s));
    EXPECT_EQ(h.manifest().imported.begin()->second.file, u"Z.ogg"_s);
}

TEST(SyncRoundArchive, APenFileNamedLikeTheLedgerNeverBecomesIt)
{
    EngineHarness h;
    h.pen().addFile(u"A.opus"_s, VirtualPen::generatePackets(10, 13));
    const QByteArray container = "OggS" + QByteArray(396, 'm');
    h.pen().addFile(u"manifest.json"_s, container);
    h.pen().addFile(u"manifest.json.bak"_s, container);

    h.round();

    EXPECT_EQ(h.manifest().imported.size(), 3u);
    EXPECT_TRUE(SyncManifest::load(h.paths().manifest() + u".bak"_s).isTrustworthy);
    EXPECT_EQ(TestSupport::readFile(h.paths().dest() + u"/manifest.json.ogg"_s), container);
    EXPECT_EQ(TestSupport::readFile(h.paths().dest() + u"/manifest.json.bak.ogg"_s), container);
}
