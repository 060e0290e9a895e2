// The sync round end to end against the virtual pen.

#include "EngineHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncPlanner.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The three spoken fixture recordings, as (pen file name, packets).
QList<std::pair<QString, QByteArray>> speech()
{
    QList<std::pair<QString, QByteArray>> out;
    const QString dir = QStringLiteral(ENGINE_FIXTURES) + u"/audio"_s;
    for (const QString& f : QDir(dir).entryList({u"*.raw"_s}, QDir::Files, QDir::Name))
        out.append({f.chopped(4) + u".opus"_s, TestSupport::readFile(dir + u'/' + f)});
    return out;
}

FileEntry listed(EngineHarness& h, const QString& name)
{
    for (const VirtualPen::File& f : h.pen().files()) {
        if (f.name == name)
            return {f.time, uint32_t(f.content.size()), f.name, {}};
    }
    return {};
}

} // namespace

TEST(SyncRound, FreshImportArchivesEveryRecordingOnce)
{
    EngineHarness h;
    const auto recordings = speech();
    ASSERT_EQ(recordings.size(), 3);
    for (const auto& [name, packets] : recordings)
        h.pen().addFile(name, packets);

    h.round();

    const SyncManifest manifest = h.manifest();
    EXPECT_EQ(manifest.imported.size(), 3u);
    for (const auto& [name, packets] : recordings) {
        const QString base = SyncPlanner::normalizedBase(name);
        EXPECT_EQ(h.raw(base), packets) << base.toStdString();
        // Every packet decodes; the decoder trims the 312-sample pre-skip.
        EXPECT_EQ(EngineHarness::decodedSamples(h.ogg(base)), packets.size() / 40 * 960 - 312);
        const auto it = manifest.imported.find(SyncPlanner::manifestKey(listed(h, name)));
        ASSERT_NE(it, manifest.imported.end()) << base.toStdString();
        EXPECT_EQ(it->second.file, base + u".ogg"_s);
        EXPECT_EQ(it->second.bytes, packets.size());
    }
    EXPECT_EQ(h.engine().lastSummary(), u"导入 3 条"_s);
    EXPECT_TRUE(h.logged(u"同步结束：导入 3 条"_s));
    ASSERT_EQ(h.notes().size(), 1);
    EXPECT_EQ(h.notes()[0].body, u"导入 3 条"_s);
    EXPECT_EQ(h.notes()[0].title, u"Mindvault"_s);
    EXPECT_TRUE(h.pen().lastSetTime().has_value());
    EXPECT_TRUE(h.partialFiles().isEmpty());
    EXPECT_FALSE(h.engine().device().connected);
    EXPECT_EQ(h.engine().device().battery, 80);
    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Idle));
    EXPECT_EQ(h.engine().items().size(), 3);
    EXPECT_EQ(h.engine().monitorPolicy().idleRounds().value(h.pen().address()), 0);

    // Nothing new: no transfer, the ledger unchanged, the round counts as idle.
    h.pen().clearRequests();
    h.round();
    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_EQ(h.manifest().imported, manifest.imported);
    EXPECT_EQ(h.engine().lastSummary(), u"跳过 3 条已导"_s);
    EXPECT_TRUE(h.logged(u"空转第 1 轮，下次重连间隔 120s"_s));
    EXPECT_EQ(h.loggedCount(u"已给录音笔校时"_s), 1);
    EXPECT_EQ(h.notes().size(), 1);
}

TEST(SyncRound, FileBeingRecordedIsNeverTouched)
{
    struct Case {
        uint8_t status;
        QString current;
        int downloads;
        QString logLine;
        QString summary;
    };
    const QList<Case> cases{
        {3,
         {},
         0,
         u"设备说在录（状态 3）却读不到当前文件名——这一批全部按「可能正在录」跳过，不冒截断的险"_s,
         u"跳过 2 条已导"_s},
        {1, u"20251203-101500.opus"_s, 1, u"记下现场证据：20251203-101500 此刻正在录"_s,
         u"导入 1 条，跳过 1 条已导，20251203-101500 录音中已跳过"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        EngineHarness h;
        h.pen().addFile(u"20251203-090000.opus"_s, VirtualPen::generatePackets(50, 1));
        h.pen().addFile(u"20251203-101500.opus"_s, VirtualPen::generatePackets(50, 2));
        h.pen().setRecordStatus(c.status);
        h.pen().setCurrentName(c.current);

        h.round();

        EXPECT_EQ(h.importRequests().size(), c.downloads);
        EXPECT_FALSE(h.pen().lastSetTime().has_value()); // no clock change while recording
        EXPECT_TRUE(h.logged(c.logLine));
        EXPECT_EQ(h.engine().lastSummary(), c.summary);
        EXPECT_TRUE(h.raw(u"20251203-101500"_s).isEmpty());
    }
}

TEST(SyncRound, ReconcilesTheArchiveWithoutDownloading)
{
    EngineHarness h;
    const QByteArray a = VirtualPen::generatePackets(120, 3);
    const QByteArray b = VirtualPen::generatePackets(80, 4);
    h.pen().addFile(u"A.opus"_s, a);
    h.pen().addFile(u"B.opus"_s, b);
    // A: raw copy complete, Ogg lost. B: both there, but the ledger never heard of it.
    TestSupport::writeFile(h.paths().rawPackets() + u"/A.opus"_s, a);
    TestSupport::writeFile(h.paths().rawPackets() + u"/B.opus"_s, b);
    TestSupport::writeFile(h.paths().dest() + u"/B.ogg"_s, "ogg bytes");

    h.round();

    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_TRUE(h.logged(u"重封 A：裸包完整但 ogg 缺失，本地补封成功（没有重下）"_s));
    EXPECT_TRUE(h.logged(u"补记 1 条：本地已有完整副本但清单没记账，B"_s));
    EXPECT_EQ(EngineHarness::decodedSamples(h.ogg(u"A"_s)), 120 * 960 - 312);
    const SyncManifest m = h.manifest();
    EXPECT_EQ(m.imported.size(), 2u);
    EXPECT_EQ(m.imported.at(SyncPlanner::manifestKey(listed(h, u"B.opus"_s))).bytes, b.size());
    EXPECT_EQ(h.engine().lastSummary(), u"跳过 2 条已导"_s);
}

TEST(SyncRound, GivesUpOnARecordingAfterFiveFailures)
{
    EngineHarness h;
    h.pen().addFile(u"G.opus"_s, VirtualPen::generatePackets(10, 5));
    h.pen().faults().unknownNames = FileEntry{0, 0, u"G.opus"_s, {}}.candidates();

    for (int round = 1; round <= 6; ++round) {
        h.pen().clearRequests();
        h.round();
        EXPECT_EQ(h.importRequests().isEmpty(), round == 6) << round;
    }
    EXPECT_EQ(h.loggedCount(u"G 连续 5 次下载失败，不再自动重试（界面上仍可手动重试）"_s), 1);
    EXPECT_EQ(h.loggedCount(u"下载失败 G.opus：文件不存在 拿到 0/400 B 续传0次"_s), 5);
    EXPECT_EQ(h.manifest().downloadFailures.at(SyncPlanner::manifestKey(listed(h, u"G.opus"_s))),
              5);
    EXPECT_EQ(h.engine().notes().errors().value(u"G"_s),
              u"试了 5 次都没拿到内容，已停止自动重试——详情里点「重新下载」可以再试"_s);
}

TEST(SyncRound, DroppedLinkLeavesWholePacketsAndTheNextRoundResumes)
{
    EngineHarness h;
    const QByteArray content = VirtualPen::generatePackets(100, 6); // 4000 bytes
    h.pen().addFile(u"D.opus"_s, content);
    h.pen().faults().dropAfterBytes = {1010};

    h.round();

    EXPECT_EQ(TestSupport::readFile(h.engine().partialPath(u"D"_s, u".part"_s)),
              content.first(1000));
    EXPECT_EQ(TestSupport::readFile(h.engine().partialPath(u"D"_s, u".part.size"_s)), "4000");
    EXPECT_TRUE(h.logged(u"断线中断 D.opus：已存断点 1010/4000 B（25%），不计失败"_s));
    EXPECT_EQ(h.engine().notes().errors().value(u"D"_s),
              u"传到 25% 时设备断开了，下次连上接着传"_s);
    EXPECT_EQ(h.engine().monitorPolicy().idleRounds().value(h.pen().address()),
              0); // progress is productive
    EXPECT_TRUE(h.manifest().downloadFailures.empty());
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 15);
    EXPECT_EQ(h.engine().lastSummary(), u"还有 1 条没下完，下次连上接着下"_s);

    h.pen().clearRequests();
    h.round();

    ASSERT_FALSE(h.importRequests().isEmpty());
    EXPECT_EQ(h.importRequests()[0].second, 1000u);
    EXPECT_TRUE(h.logged(u"接着上次的断点续传 D.opus：已有 1000/4000 B（25%）"_s));
    EXPECT_EQ(h.raw(u"D"_s), content);
    EXPECT_TRUE(h.partialFiles().isEmpty());
    EXPECT_EQ(h.engine().currentCooldown(h.pen().address()), 60);
}

TEST(SyncRound, AResumeReachesAFileThePenKnowsOnlyByALaterName)
{
    EngineHarness h;
    const QByteArray content = VirtualPen::generatePackets(100, 8);
    h.pen().addFile(u"R"_s, content, std::nullopt, {u"R.wav"_s});
    TestSupport::writeFile(h.engine().partialPath(u"R"_s, u".part"_s), content.first(1000));
    TestSupport::writeFile(h.engine().partialPath(u"R"_s, u".part.size"_s), "4000");

    h.round();

    const QList<std::pair<QString, uint32_t>> asked{{u"R.opus"_s, 1000u}, {u"R.wav"_s, 1000u}};
    EXPECT_EQ(h.importRequests(), asked);
    EXPECT_EQ(h.raw(u"R"_s), content);
    EXPECT_TRUE(h.manifest().downloadFailures.empty());
}

TEST(SyncRound, PartialSavedForAnotherSizeIsDropped)
{
    EngineHarness h;
    const QByteArray content = VirtualPen::generatePackets(110, 7); // 4400 bytes now
    h.pen().addFile(u"S.opus"_s, content);
    TestSupport::writeFile(h.engine().partialPath(u"S"_s, u".part"_s), content.first(1000));
    TestSupport::writeFile(h.engine().partialPath(u"S"_s, u".part.size"_s), "4000");

    h.round();

    ASSERT_FALSE(h.importRequests().isEmpty());
    EXPECT_EQ(h.importRequests()[0].second, 0u);
    EXPECT_EQ(h.raw(u"S"_s), content);
    EXPECT_TRUE(h.partialFiles().isEmpty());
}

TEST(SyncRound, ContainerDeliveredByThePenIsKeptAsIs)
{
    EngineHarness h;
    const QByteArray ogg = "OggS" + QByteArray(396, 'x');
    h.pen().addFile(u"C.opus"_s, ogg);

    h.round();

    EXPECT_EQ(TestSupport::readFile(h.paths().dest() + u"/C.opus"_s), ogg);
    EXPECT_FALSE(QFile::exists(h.paths().dest() + u"/C.ogg"_s));
    EXPECT_EQ(h.manifest().imported.begin()->second.file, u"C.opus"_s);
}

TEST(SyncRound, LowBatteryWarningsFollowTheHysteresis)
{
    EngineHarness h;
    // Only a reading moves the warning state: an unanswered read (absent) or the pen's
    // no-reading value 110 between two low readings must not warn a second time.
    const std::vector<std::optional<uint8_t>> levels{20, std::nullopt, 20, 110, 25, 35, 15};
    for (const std::optional<uint8_t> level : levels) {
        if (level)
            h.pen().setBattery(*level);
        h.pen().faults().unanswered = level ? QStringList() : QStringList{u"battery"_s};
        h.round();
    }
    QStringList warnings;
    for (const EngineHarness::Note& n : h.notes()) {
        if (n.title == u"电量偏低"_s)
            warnings.append(n.body);
    }
    EXPECT_EQ(warnings, QStringList({u"录音笔只剩 20% 电，出门前记得充"_s,
                                     u"录音笔只剩 15% 电，出门前记得充"_s}));
    EXPECT_EQ(h.loggedCount(u"录音笔电量 "_s), 2);
}

TEST(SyncRound, ConnectFailureEndsTheRoundAsFailed)
{
    EngineHarness h;
    h.pen().faults().ignoreConnect = true;

    h.round();

    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Failed));
    EXPECT_TRUE(h.engine().lastSummary().startsWith(u"连接失败："_s));
    EXPECT_TRUE(h.engine().lastRun().has_value());
    EXPECT_FALSE(
        h.engine().monitorPolicy().idleRounds().contains(h.pen().address())); // back-off untouched
}

TEST(SyncRound, UnsafePenNamesAreNeverTurnedIntoPaths)
{
    EngineHarness h;
    h.pen().addFile(u"../escape.opus"_s, VirtualPen::generatePackets(10, 8));
    h.pen().addFile(u"20251203-090000.opus"_s, VirtualPen::generatePackets(10, 9));
    const QString note = SyncPlanner::unsafeEntriesNote({listed(h, u"../escape.opus"_s)});
    ASSERT_FALSE(note.isEmpty());

    h.round();
    h.round();

    EXPECT_EQ(h.loggedCount(note), 2); // once per round
    for (const auto& [name, offset] : h.importRequests())
        EXPECT_EQ(name, u"20251203-090000.opus"_s);
    EXPECT_FALSE(QFile::exists(h.paths().dest() + u"/escape.opus"_s));
    EXPECT_FALSE(QFile::exists(h.paths().rawPackets() + u"/../escape.opus"_s));
    EXPECT_EQ(h.manifest().imported.size(), 1u);
}

TEST(SyncRound, CleanupSwitchedOnWithoutTheServiceSaysSoAndDeletesNothing)
{
    EngineHarness h;
    TestSupport::writeFile(h.paths().cleanupSettings(),
                           R"({"deleteAfterSync":true,"coolingDays":3,"minUploadSeconds":300})");
    h.engine().loadCleanupSettingsOnce();
    ASSERT_TRUE(h.engine().cleanup().deleteAfterSync);
    h.pen().addFile(u"20251203-090000.opus"_s, VirtualPen::generatePackets(10, 1));

    h.round();

    const QString note = u"清理跳过：没接通Mindvault，无法确认是否已同步"_s;
    EXPECT_TRUE(h.logged(u"清理："_s + note));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条，"_s + note);
    EXPECT_TRUE(h.pen().deletedNames().isEmpty());
    EXPECT_EQ(h.pen().files().size(), 1);
}

TEST(SyncRound, ANameTooLongToRequestIsFetchedUnderAShorterOne)
{
    EngineHarness h;
    // 20 bytes listed; with ".opus" appended the request's 24-byte name field cannot hold it,
    // but the pen knows the file by its listed name too.
    const QString odd = u"ABCDEFGHIJKLMNOPQRST"_s;
    const QByteArray packets = VirtualPen::generatePackets(10, 1);
    h.pen().addFile(odd, packets);
    h.pen().addFile(u"20251203-090000.opus"_s, VirtualPen::generatePackets(10, 2));

    h.round();

    EXPECT_EQ(h.raw(odd), packets);
    EXPECT_FALSE(h.raw(u"20251203-090000"_s).isEmpty());
    EXPECT_EQ(h.manifest().imported.size(), 2u);
    EXPECT_TRUE(h.manifest().downloadFailures.empty());
    EXPECT_EQ(h.loggedCount(u"下载失败 "_s), 0);
    EXPECT_EQ(h.engine().lastSummary(), u"导入 2 条"_s);
}

TEST(SyncRound, AFileWithNoNameThatFitsTheRequestSaysSo)
{
    EngineHarness h;
    // The list cuts the emoji's four bytes to three, which decode to three replacement
    // characters: the listed name alone is 26 bytes, and its other names are longer still.
    h.pen().addFile(u"12345678901234567\U0001F600"_s, VirtualPen::generatePackets(10, 3));
    const QString listedName = u"12345678901234567\uFFFD\uFFFD\uFFFD"_s;
    const QString tooLong = u"文件名超过 24B: "_s + listedName;

    h.round();

    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_EQ(h.loggedCount(u"下载失败 "_s + listedName + u"："_s + tooLong + u" "_s), 1);
    EXPECT_EQ(h.engine().notes().errors().value(listedName), u"下载失败："_s + tooLong);
}
