// The engine's lifecycle: choosing the pen, sightings, cool-down and back-off, the monitor loop
// and the manual trigger.

#include "EngineHarness.h"
#include "device/RadioState.h"
#include "support/TestSupport.h"
#include "sync/FileError.h"
#include "sync/LiveWitness.h"
#include "sync/RadioNotice.h"

#include <QFileInfo>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0));

} // namespace

TEST(MonitorLoop, PickPrefersTheServiceThenTheNameHint)
{
    EngineHarness h;
    const Discovered named{u"A"_s, u"qx27-a1"_s, -80, false};
    const Discovered byService{u"B"_s, u"Pen"_s, -90, true};
    const Discovered other{u"C"_s, u"Phone"_s, -40, false};
    EXPECT_EQ(h.engine().pick({named, byService}), byService);
    EXPECT_EQ(h.engine().pick({other, named}), named);
    EXPECT_EQ(h.engine().pick({other}), std::nullopt);
    EXPECT_EQ(h.engine().pick({}), std::nullopt);
}

TEST(MonitorLoop, SightingsAreNotedSparinglyAndAReturnIsLogged)
{
    EngineHarness h;
    const Discovered pen{u"P"_s, u"QX27-1"_s, -60, true};
    h.engine().noteSeen(pen, t0);
    h.engine().noteSeen(pen, t0.addSecs(3));
    EXPECT_EQ(h.engine().device().lastSeenAt, t0);
    EXPECT_EQ(h.engine().device().name, u"QX27-1"_s);

    h.engine().noteSeen(pen, t0.addSecs(6));
    EXPECT_EQ(h.engine().device().lastSeenAt, t0.addSecs(6));
    h.engine().noteSeen(pen, t0.addSecs(6 + 150));
    EXPECT_TRUE(
        h.logged(u"录音笔又开始广播了（上次见到是 2026-03-01 10:00:06，中间 2 分钟没有信号）"_s));
}

TEST(MonitorLoop, UnproductiveRoundsStretchTheCooldown)
{
    EngineHarness h;
    const QString key = u"P"_s;
    const QList<std::pair<bool, double>> rounds{{false, 120}, {false, 300}, {false, 600},
                                                {false, 600}, {true, 60},   {true, 60}};
    for (const auto& [productive, interval] : rounds) {
        h.engine().noteRoundOutcome(key, productive);
        EXPECT_EQ(h.engine().currentCooldown(key), interval);
    }
    EXPECT_EQ(h.log(),
              QStringList({u"空转第 1 轮，下次重连间隔 120s"_s, u"空转第 2 轮，下次重连间隔 300s"_s,
                           u"空转第 3 轮，下次重连间隔 600s"_s, u"空转第 3 轮，下次重连间隔 600s"_s,
                           u"有新内容，重连间隔打回 60s"_s}));

    // The base cool-down is a floor under every step.
    h.engine().setCooldown(200);
    h.engine().noteRoundOutcome(key, false);
    EXPECT_EQ(h.engine().currentCooldown(key), 200);
}

TEST(MonitorLoop, APendingPartialKeepsTheIntervalShortAndTheLogSaysSo)
{
    EngineHarness h;
    const QString key = u"P"_s;
    TestSupport::writeFile(h.engine().partialPath(u"A"_s, u".part"_s),
                           VirtualPen::generatePackets(25, 1));
    TestSupport::writeFile(h.engine().partialPath(u"A"_s, u".part.size"_s), "4000");

    h.engine().noteRoundOutcome(key, false);
    h.engine().noteRoundOutcome(key, true);
    EXPECT_EQ(h.engine().currentCooldown(key), 15);
    EXPECT_EQ(h.log(),
              QStringList({u"空转第 1 轮，下次重连间隔 15s"_s, u"有新内容，重连间隔打回 15s"_s}));
}

TEST(MonitorLoop, ThePensAdvertisementsDriveRoundsWithinTheCooldown)
{
    EngineHarness h;
    h.freezeClock(t0);
    h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(40, 1));
    h.pen().setAdvertiseInterval(10);
    h.pen().setOtherDevices(3, 5);
    QSignalSpy rounds(&h.engine(), &SyncEngine::roundEnded);

    h.engine().start();
    h.engine().start(); // a second start never starts a second loop
    EXPECT_EQ(h.loggedCount(u"开始持续监听（广播流，冷却 60s，自动清理 关）"_s), 2);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 1; }));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条"_s);
    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::WaitingForDevice));

    // Within the cool-down the pen's sightings start nothing.
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(150));
    EXPECT_EQ(rounds.size(), 1);
    EXPECT_EQ(h.pen().connectionCount(), 1);

    // After it, one round, which finds nothing new and stretches the next wait to 120 s.
    h.advance(61);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 2; }));
    EXPECT_TRUE(h.logged(u"空转第 1 轮，下次重连间隔 120s"_s));
    h.advance(61);
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(150));
    EXPECT_EQ(rounds.size(), 2);
    h.advance(60);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 3; }));

    h.engine().stop();
    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Idle));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return !h.engine().isMonitorLoopRunning(); }));
    EXPECT_TRUE(h.logged(u"停止监听"_s));
}

TEST(MonitorLoop, StopDuringARoundLetsItFinishThenEndsTheLoop)
{
    EngineHarness h;
    h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(500, 1));
    h.pen().setBytesPerSecond(40000); // half a second of transfer
    h.pen().setAdvertiseInterval(10);

    h.engine().start();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return h.engine().phase().is(SyncPhase::Kind::Downloading); }));

    const SyncPhase during = h.engine().phase();
    h.engine().syncNow(); // refused, and only the summary says so
    EXPECT_EQ(h.engine().lastSummary(), u"正在同步中，忽略这次手动触发"_s);
    EXPECT_EQ(h.engine().phase(), during);

    h.engine().stop();
    EXPECT_TRUE(h.engine().isMonitorLoopRunning());
    EXPECT_TRUE(h.engine().isSyncing());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !h.engine().isSyncing(); }));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return !h.engine().isMonitorLoopRunning(); }));
    EXPECT_TRUE(h.engine().phase().is(SyncPhase::Kind::Idle));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条"_s);
}

TEST(MonitorLoop, ManualTriggerFindsThePenOrFails)
{
    EngineHarness h;
    h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(40, 1));
    QSignalSpy rounds(&h.engine(), &SyncEngine::roundEnded);

    h.pen().setAdvertising(false);
    h.engine().syncNow();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 1; }));
    EXPECT_EQ(h.engine().phase(),
              SyncPhase::failed(u"没找到录音笔，确认已开机且未被手机 App 占用"_s));
    EXPECT_EQ(h.engine().lastSummary(), u"没找到录音笔"_s);

    h.pen().setAdvertising(true);
    h.engine().syncNow();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 2; }));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条"_s);
    EXPECT_TRUE(h.engine().monitorPolicy().lastTriggered().contains(h.pen().address()));
    EXPECT_FALSE(h.engine().isSyncing());
}

// With the radio off a manual round blames the radio, not the pen, and says what to do; a
// listening engine shows the radio's state until it is back, then finds the pen by itself.
TEST(MonitorLoop, RadioOffFailsWithItsStateAndListeningResumesWhenItIsBack)
{
    EngineHarness h;
    h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(40, 1));
    QSignalSpy rounds(&h.engine(), &SyncEngine::roundEnded);
    const QString unavailable = u"蓝牙不可用：state=4"_s;
    const QString advice = unavailable + u"——"_s + RadioState::advice(RadioState::poweredOff);

    h.pen().setRadioState(RadioState::poweredOff);
    h.engine().syncNow();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 1; }));
    EXPECT_EQ(h.engine().phase(), SyncPhase::failed(unavailable));
    EXPECT_EQ(h.engine().lastSummary(), unavailable);
    EXPECT_TRUE(h.logged(advice));

    RadioNotice notice(h.pen(), h.engine(), 0);
    h.engine().start();
    notice.note(h.pen().state());
    notice.note(h.pen().state()); // once per change
    EXPECT_EQ(h.engine().phase(), SyncPhase::failed(unavailable));
    EXPECT_EQ(h.loggedCount(advice), 2);

    h.pen().setRadioState(CentralPort::poweredOn);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 2; }));
    EXPECT_TRUE(h.logged(u"蓝牙恢复了，接着找录音笔"_s));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条"_s);
    h.engine().stop();
}

// bluetoothd restarting passes through "gone", "no adapter" and "adapter off" within a second:
// none of that is news. Only a state the radio stays in gives advice, once.
TEST(MonitorLoop, RadioStatesThatPassGiveNoAdvice)
{
    EngineHarness h;
    RadioNotice notice(h.pen(), h.engine(), 0.2);
    for (const int passing :
         std::initializer_list<int>{RadioState::resetting, RadioState::unsupported,
                                    RadioState::poweredOff, CentralPort::poweredOn})
        notice.note(passing);
    QTest::qWait(400);
    EXPECT_EQ(h.loggedCount(u"蓝牙不可用"_s), 0);
    EXPECT_FALSE(h.logged(u"蓝牙恢复了，接着找录音笔"_s));

    notice.note(RadioState::blocked);
    const QString advice = u"蓝牙不可用：state=6——"_s + RadioState::advice(RadioState::blocked);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.logged(advice); }));
    notice.note(CentralPort::poweredOn);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.logged(u"蓝牙恢复了，接着找录音笔"_s); }));
    EXPECT_EQ(h.loggedCount(u"蓝牙不可用"_s), 1);
}

// The radio going away mid-round ends the round; the engine then shows the radio's problem,
// not "waiting for the pen", until the radio is back.
TEST(MonitorLoop, AfterAnOutageMidRoundThePhaseShowsTheRadioUntilItIsBack)
{
    EngineHarness h;
    h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(4000, 1));
    h.pen().setBytesPerSecond(40000);
    RadioNotice notice(h.pen(), h.engine(), 0);
    QSignalSpy rounds(&h.engine(), &SyncEngine::roundEnded);
    h.engine().start();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.engine().device().connected; }));
    h.pen().setRadioState(RadioState::poweredOff);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return rounds.size() == 1; }));
    const SyncPhase down = SyncPhase::failed(u"蓝牙不可用：state=4"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.engine().phase() == down; }));
    QTest::qWait(100); // nothing later takes it back while the radio is down
    EXPECT_EQ(h.engine().phase(), down);

    h.pen().setRadioState(CentralPort::poweredOn);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !(h.engine().phase() == down); }));
    h.engine().stop();
}

TEST(MonitorLoop, StartLoadsTheEvidenceAndConvertsStrandedRecordings)
{
    EngineHarness h;
    h.paths().ensureDirs();
    const LiveWitness seen{QDateTime(QDate(2025, 3, 1), QTime(10, 0)),
                           QDateTime(QDate(2025, 3, 1), QTime(10, 5))};
    ASSERT_NO_THROW(LiveWitness::saveFile(h.paths().witnesses(), {{u"20250101-120000"_s, seen}}));
    const QString dest = h.paths().dest() + u'/';
    TestSupport::writeFile(dest + u"a.caf"_s, "caf");
    TestSupport::writeFile(dest + u"b.caf"_s, "caf");
    TestSupport::writeFile(dest + u"c.caf"_s, "caf");
    // Whether an .m4a beside a .caf is a whole conversion is the converter's to judge.
    TestSupport::writeFile(dest + u"c.m4a"_s, "m4a");
    QStringList converted;
    QMutex lock;
    h.engine().hooks().convertToM4a = [&](const QString& caf) {
        const QMutexLocker locked(&lock);
        converted.append(QFileInfo(caf).fileName());
        if (caf.endsWith(u"b.caf"_s))
            throw FileError(u"读不了源文件：坏的"_s);
        return 12.34;
    };

    h.engine().start();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.loggedCount(u"补转"_s) == 3; }));
    h.engine().stop();

    EXPECT_EQ(h.engine().witnesses().at(u"20250101-120000"_s), seen);
    EXPECT_EQ(converted, QStringList({u"a.caf"_s, u"b.caf"_s, u"c.caf"_s}));
    EXPECT_TRUE(h.logged(u"补转搁浅录音 a → m4a（12.3 秒）"_s));
    EXPECT_TRUE(h.logged(u"补转 b 失败：读不了源文件：坏的——原始 caf 留着"_s));
    EXPECT_FALSE(QFile::exists(dest + u"a.caf"_s));
    EXPECT_TRUE(QFile::exists(dest + u"b.caf"_s));

    // A pen clock far off the evidence: the start comes from what was seen instead.
    const Continuation::TrueStart start = h.engine().trueStart(u"20250101-120000"_s, 1800);
    EXPECT_TRUE(start.corrected);
    EXPECT_EQ(start.at, QDateTime(QDate(2025, 3, 1), QTime(10, 2, 30)));
    EXPECT_TRUE(h.logged(u"20250101-120000 的文件名时刻跟现场证据对不上（笔的时钟不准），"_s
                         u"改按证据推定为 2025-03-01 10:02:30"_s));
}
