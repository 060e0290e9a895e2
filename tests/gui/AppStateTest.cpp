// The application state: wiring, the model's mirror of the engine, the settings actions and
// the login item.

#include "GuiHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "window/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(AppState, UnwiredActionsAnswerWithoutTheEngine)
{
    GuiHarness h;
    const AppActions& a = h.model().actions;
    EXPECT_EQ(TestSupport::run(a.renameDevice(u"我的笔"_s)), u"未接线"_s);
    EXPECT_EQ(TestSupport::run(a.signIn(u"a@b.c"_s, u"pw"_s)), u"未接线"_s);
    EXPECT_FALSE(TestSupport::run(a.resolveBindMismatch(std::nullopt)));
    EXPECT_EQ(TestSupport::run(a.checkSession()), Mindvault::AuthState::none);
    a.syncNow(); // nothing happens
    EXPECT_FALSE(h.engine().isSyncing());
}

TEST(AppState, WiresOnceAndStartsTheEngineOnce)
{
    GuiHarness h;
    h.state().wire();
    h.state().wire();
    EXPECT_TRUE(h.state().wired());
    EXPECT_EQ(h.logged(u"开始持续监听"_s), 1);
    EXPECT_TRUE(h.engine().isMonitorLoopRunning());
    EXPECT_EQ(h.model().importFolder, h.engine().paths().dest());
    EXPECT_EQ(h.model().projectRoot, h.engine().paths().root());
    // Wired: the binder answers (no pen is connected), not the unwired default.
    EXPECT_NE(TestSupport::run(h.model().actions.renameDevice(u"x"_s)), u"未接线"_s);
}

TEST(AppState, ModelPullsOncePerTurnAndEndsOnTheLatestValues)
{
    GuiHarness h;
    QSignalSpy phase(&h.model(), &AppModel::phaseChanged);
    QSignalSpy items(&h.model(), &AppModel::itemsChanged);
    h.engine().setPhase(SyncPhase::connecting());
    h.engine().setPhase(SyncPhase::listing());
    h.engine().setPhase(SyncPhase::downloading(u"a.opus"_s, 10));
    EXPECT_EQ(h.model().phase(), SyncPhase::idle()); // not yet: the pull is queued
    TestSupport::spinUntil([&] { return phase.count() > 0; });
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(10));
    EXPECT_EQ(phase.count(), 1);
    EXPECT_EQ(items.count(), 0); // unchanged values announce nothing
    EXPECT_EQ(h.model().phase(), SyncPhase::downloading(u"a.opus"_s, 10));

    const RecordingItem item(u"20250301-101500"_s, 60);
    EXPECT_EQ(AppModel::activity(h.model().phase(), item), std::nullopt);
    const SyncPhase mine = SyncPhase::downloading(u"20250301-101500.opus"_s, 42);
    EXPECT_EQ(AppModel::activity(mine, item), (RecordingActivity{u"下载中"_s, 0.42}));
    EXPECT_EQ(AppModel::activity(SyncPhase::uploading(u"20250301-101500"_s, u"分片 2/3"_s), item),
              (RecordingActivity{u"推送：分片 2/3"_s, std::nullopt}));
}

TEST(AppState, SettingsActionsStoreInTheEngineAndFollowTheFile)
{
    GuiHarness h;
    // Settings on disk before start: the menu must show them, not the defaults.
    CleanupSettings stored;
    stored.deleteAfterSync = true;
    stored.coolingDays = 5;
    stored.minUploadSeconds = 150;
    TestSupport::writeFile(h.engine().paths().cleanupSettings(), stored.encode());
    h.state().wire();
    TestSupport::spinUntil([&] { return h.model().coolingDays() == 5; });
    EXPECT_TRUE(h.model().cleanupEnabled());
    EXPECT_EQ(h.model().minUploadMinutes(), 2);

    h.model().actions.setMinUploadMinutes(2);
    EXPECT_EQ(h.engine().cleanup().minUploadSeconds, 120);
    h.model().actions.setCleanup(false);
    EXPECT_FALSE(h.engine().cleanup().deleteAfterSync);
    EXPECT_EQ(h.engine().cleanup().coolingDays, 5);
    EXPECT_EQ(CleanupSettings::load(h.engine().paths().cleanupSettings()).minUploadSeconds, 120);
    EXPECT_FALSE(h.model().cleanupEnabled());
}

TEST(AppState, LoginItemFailureIsShownAndTheSwitchShowsTheTruth)
{
    GuiHarness h;
    h.state().wire();
    h.model().actions.setLoginItem(true);
    EXPECT_TRUE(h.model().launchAtLogin());
    EXPECT_TRUE(QFile::exists(h.autostart() + u"/kestrel.desktop"_s));
    h.model().actions.setLoginItem(false);
    EXPECT_FALSE(h.model().launchAtLogin());
    EXPECT_TRUE(h.dialogs().asked.isEmpty());

    // The folder's place is taken by a file: the entry cannot be written.
    ASSERT_TRUE(QDir().rmdir(h.autostart()));
    TestSupport::writeFile(h.autostart(), "not a folder");
    h.model().actions.setLoginItem(true);
    ASSERT_EQ(h.dialogs().asked.size(), 1);
    EXPECT_EQ(h.dialogs().asked[0].title, u"开机自启设置失败"_s);
    EXPECT_TRUE(h.dialogs().asked[0].text.startsWith(u"系统拒绝了："_s));
    EXPECT_FALSE(h.model().launchAtLogin());
}

TEST(AppState, BrowserAndFileActionsGoToTheDesktop)
{
    GuiHarness h;
    h.state().wire();
    h.model().vaultBaseURL = [] {
        return QUrl(u"http://127.0.0.1:9/"_s);
    };
    RecordingItem item(u"20250301-101500"_s, 60);
    h.model().actions.openVaultSession(item); // no transcript: nothing
    EXPECT_TRUE(h.shell().opened.isEmpty());
    item.transcriptId = u"t-1"_s;
    h.model().actions.openVaultSession(item);
    ASSERT_EQ(h.shell().opened.size(), 1);
    EXPECT_EQ(h.shell().opened[0], QUrl(u"http://127.0.0.1:9/zh/transcript/t-1"_s));

    h.model().actions.revealLocal(item); // not archived: the folder opens
    EXPECT_EQ(h.shell().opened.last(), QUrl::fromLocalFile(h.model().importFolder));
    TestSupport::writeFile(h.model().importFolder + u"/20250301-101500.ogg"_s, "OggS");
    h.model().actions.revealLocal(item);
    EXPECT_EQ(h.shell().revealed, QStringList{h.model().importFolder + u"/20250301-101500.ogg"_s});
    h.model().actions.openLog();
    EXPECT_EQ(h.shell().opened.last(), QUrl::fromLocalFile(h.engine().paths().syncLog()));
}

TEST(MainWindow, SizeTitleAndReuse)
{
    GuiHarness h;
    h.state().showMainWindow();
    MainWindow* w = h.state().window();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->windowTitle(), u"Mindvault"_s);
    EXPECT_EQ(w->minimumSize(), QSize(860, 520));
    EXPECT_EQ(w->size(), QSize(1000, 640));
    w->hide();
    h.state().showMainWindow();
    EXPECT_EQ(h.state().window(), w);
    EXPECT_TRUE(w->isVisible());
}

TEST(MainWindow, GeometryKeptAcrossRuns)
{
    GuiHarness h;
    const QString file = h.archive() + u"/window.ini"_s;
    {
        MainWindow first(h.model(), h.dialogs(), file);
        first.show();
        first.resize(900, 600);
        first.close();
    }
    MainWindow second(h.model(), h.dialogs(), file);
    EXPECT_EQ(second.size(), QSize(900, 600));
}

TEST(MainWindow, ComesBackOnScreen)
{
    QWidget window;
    window.resize(400, 300);
    window.move(-20000, -20000);
    AppState::ensureOnScreen(window);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.intersects(window.frameGeometry()));
    window.move(screen.topLeft() + QPoint(10, 10));
    AppState::ensureOnScreen(window);
    EXPECT_EQ(window.pos(), screen.topLeft() + QPoint(10, 10)); // on screen: left alone
}
