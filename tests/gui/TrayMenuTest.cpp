// The tray menu against the model: its lines and dividers, the enabling of "立即同步" per
// phase, and the alerts behind the settings entries.

#include "tray/TrayMenu.h"

#include "Alerts.h"
#include "GuiHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "tray/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const QDateTime noon(QDate(2025, 3, 4), QTime(12, 0));

// The visible entries, "—" for a divider.
QStringList entries(const QMenu& menu)
{
    QStringList out;
    for (const QAction* a : menu.actions()) {
        if (!a->isVisible())
            continue;
        if (a->isSeparator())
            out << u"—"_s;
        else
            out << a->text();
    }
    return out;
}

QAction* entry(const QMenu& menu, const QString& prefix)
{
    for (QAction* a : menu.actions()) {
        if (a->isVisible() && a->text().startsWith(prefix))
            return a;
    }
    return nullptr;
}

class TrayMenuTest : public ::testing::Test {
protected:
    TrayMenuTest() : tray(h.model(), h.dialogs(), [] { return noon; }) {}

    // Engine changes reach the menu through the model's coalesced pull.
    void settle()
    {
        TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(5));
    }

    GuiHarness h;
    TrayMenu tray;
};

} // namespace

TEST_F(TrayMenuTest, ShowsEveryEntryInOrder)
{
    DeviceInfo device;
    device.name = u"QX27-7A01"_s;
    device.connected = true;
    device.battery = 80;
    h.engine().setDevice(device);
    h.engine().setLastRun(QDateTime(QDate(2025, 3, 3), QTime(21, 5)));
    h.engine().setLastSummary(u"导入 2 条"_s);
    h.model().setSignedInEmail(u"demo@example.com"_s);
    settle();

    const QStringList expected{
        u"状态：空闲"_s,
        u"上次同步：昨天 21:05"_s,
        u"导入 2 条"_s,
        u"设备：QX27-7A01　电量 80%"_s,
        u"—"_s,
        u"立即同步"_s,
        u"打开主窗口"_s,
        u"—"_s,
        u"打开导入文件夹"_s,
        u"打开Mindvault网页"_s,
        u"查看同步日志"_s,
        u"体检本地归档"_s,
        u"—"_s,
        u"开机自启（未开启）"_s,
        u"退出登录（demo@example.com）"_s,
        u"—"_s,
        u"短录音门槛：5 分钟以下只落盘"_s,
        u"—"_s,
        u"同步后自动清理设备（已关闭）"_s,
        u"—"_s,
        u"退出录音笔导入器"_s,
    };
    QStringList got = entries(tray.menu());
    got[0] = got[0].section(u'：', 0, 0) + u"：空闲"_s; // the phase's own label is tested elsewhere
    EXPECT_EQ(got, expected);
    EXPECT_EQ(entry(tray.menu(), u"立即同步"_s)->shortcut(), QKeySequence(u"Ctrl+S"_s));
    EXPECT_EQ(entry(tray.menu(), u"打开主窗口"_s)->shortcut(), QKeySequence(u"Ctrl+0"_s));
    EXPECT_EQ(entry(tray.menu(), u"退出录音笔导入器"_s)->shortcut(), QKeySequence(u"Ctrl+Q"_s));
}

TEST_F(TrayMenuTest, HidesWhatIsNotKnownAndFollowsTheSettings)
{
    DeviceInfo device;
    device.name = u"QX27-7A01"_s;
    device.connected = true;
    h.engine().setDevice(device);
    CleanupSettings settings;
    settings.deleteAfterSync = true;
    settings.coolingDays = 7;
    settings.minUploadSeconds = 150;
    h.engine().setCleanup(settings);
    settle();

    const QStringList got = entries(tray.menu());
    EXPECT_TRUE(got.contains(u"上次同步：从未"_s));
    EXPECT_TRUE(got.contains(u"设备：QX27-7A01　"_s)) << got.join(u'|').toStdString();
    EXPECT_FALSE(entry(tray.menu(), u"退出登录"_s));
    EXPECT_TRUE(got.contains(u"短录音门槛：2 分钟以下只落盘"_s));
    EXPECT_TRUE(got.contains(u"同步后自动清理设备（已开启，冷静期 7 天）"_s));

    device.connected = false;
    h.engine().setDevice(device);
    settle();
    EXPECT_FALSE(entry(tray.menu(), u"设备："_s));
}

TEST_F(TrayMenuTest, SyncNowOnlyWhileNothingRuns)
{
    const std::vector<std::pair<SyncPhase, bool>> cases{
        {SyncPhase::idle(), true},
        {SyncPhase::waitingForDevice(), true},
        {SyncPhase::failed(u"连不上"_s), true},
        {SyncPhase::connecting(), false},
        {SyncPhase::listing(), false},
        {SyncPhase::downloading(u"a.opus"_s, 42), false},
        {SyncPhase::uploading(u"a"_s, u"分片 1/2"_s), false},
        {SyncPhase::cleaning(), false},
    };
    for (const auto& [phase, enabled] : cases) {
        h.engine().setPhase(phase);
        settle();
        EXPECT_EQ(entry(tray.menu(), u"立即同步"_s)->isEnabled(), enabled)
            << phase.label().toStdString();
        EXPECT_EQ(entry(tray.menu(), u"状态："_s)->text(), u"状态："_s + phase.label());
    }
}

TEST_F(TrayMenuTest, ThresholdDialogAppliesOnlyWholeMinutesUpTo120)
{
    QList<int> applied;
    h.model().actions.setMinUploadMinutes = [&applied](int m) {
        applied << m;
    };
    const std::vector<std::pair<std::optional<QString>, std::optional<int>>> cases{
        {u" 15 "_s, 15},
        {u"0"_s, 0},
        {u"120"_s, 120},
        {u"121"_s, std::nullopt},
        {u"-1"_s, std::nullopt},
        {u"abc"_s, std::nullopt},
        {u""_s, std::nullopt},
        {u"1.5"_s, std::nullopt},
        {std::nullopt, std::nullopt}, // cancelled
    };
    for (const auto& [typed, result] : cases) {
        applied.clear();
        h.dialogs().textAnswer = typed;
        entry(tray.menu(), u"短录音门槛"_s)->trigger();
        // Compared as vectors: Qt 6.4's QList == hands memcmp a null pointer for two empty
        // lists, which the undefined-behaviour sanitizer rightly stops at.
        EXPECT_EQ(std::vector<int>(applied.begin(), applied.end()),
                  result ? std::vector<int>{*result} : std::vector<int>{})
            << typed.value_or(u"(cancel)"_s).toStdString();
    }
    EXPECT_EQ(h.dialogs().prefills.value(0), u"5"_s);
    EXPECT_EQ(h.dialogs().asked.value(0).title, Alerts::threshold().title);
}

TEST_F(TrayMenuTest, CleanupIsSwitchedOnOnlyByTheAlertsFirstButton)
{
    QList<bool> set;
    h.model().actions.setCleanup = [&](bool on) {
        set << on;
        h.model().setCleanupEnabled(on);
    };
    for (int answer : {1, -1}) {
        h.dialogs().answer = answer;
        entry(tray.menu(), u"同步后自动清理设备"_s)->trigger();
    }
    EXPECT_TRUE(set.isEmpty());
    ASSERT_EQ(h.dialogs().asked.size(), 2);
    EXPECT_EQ(h.dialogs().asked[0].buttons, (QStringList{u"我明白，开启"_s, u"取消"_s}));
    EXPECT_TRUE(h.dialogs().asked[0].text.contains(u"录制时间超过 3 天"_s));

    h.dialogs().answer = 0;
    entry(tray.menu(), u"同步后自动清理设备"_s)->trigger();
    EXPECT_EQ(set, QList<bool>{true});
    // Switching off needs no question.
    entry(tray.menu(), u"同步后自动清理设备"_s)->trigger();
    EXPECT_EQ(set, (QList<bool>{true, false}));
    EXPECT_EQ(h.dialogs().asked.size(), 3);
}

TEST_F(TrayMenuTest, SignOutAsksFirst)
{
    int signedOut = 0;
    h.model().actions.signOut = [&signedOut] {
        ++signedOut;
    };
    h.model().setSignedInEmail(u"demo@example.com"_s);
    h.dialogs().answer = 1;
    entry(tray.menu(), u"退出登录"_s)->trigger();
    EXPECT_EQ(signedOut, 0);
    h.dialogs().answer = 0;
    entry(tray.menu(), u"退出登录"_s)->trigger();
    EXPECT_EQ(signedOut, 1);
    EXPECT_EQ(h.dialogs().asked.last().title, u"退出登录？"_s);
}

TEST_F(TrayMenuTest, AuditEntryOpensTheWindowOnThePanel)
{
    int opened = 0;
    h.model().actions.openMainWindow = [&opened] {
        ++opened;
    };
    entry(tray.menu(), u"体检本地归档"_s)->trigger();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(h.model().panel(), AppModel::Panel::audit);
}

TEST(TrayIcon, BadgeFollowsThePhase)
{
    const std::vector<std::pair<SyncPhase, QString>> cases{
        {SyncPhase::downloading(u"a.opus"_s, 42), u" 42%"_s},
        {SyncPhase::uploading(u"a"_s, u"x"_s), u" ↑"_s},
        {SyncPhase::connecting(), u" ·"_s},
        {SyncPhase::listing(), u" ·"_s},
        {SyncPhase::cleaning(), u" ···"_s},
        {SyncPhase::idle(), u""_s},
        {SyncPhase::failed(u"x"_s), u""_s},
    };
    for (const auto& [phase, suffix] : cases)
        EXPECT_EQ(AppModel::menuBarSuffix(phase), suffix) << phase.label().toStdString();
    // The failed icon is the warning symbol: it differs from the idle one.
    const QImage idle = TrayIcon::render(SyncPhase::idle()).pixmap(32).toImage();
    const QImage failed = TrayIcon::render(SyncPhase::failed(u"x"_s)).pixmap(32).toImage();
    const QImage busy = TrayIcon::render(SyncPhase::downloading(u"a"_s, 42)).pixmap(32).toImage();
    EXPECT_NE(idle, failed);
    EXPECT_NE(idle, busy);
}
