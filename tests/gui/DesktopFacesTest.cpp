// The application's faces on a real desktop: quitting always quits, the window hides only while
// a tray icon can bring it back, the tray icon follows the desktop's tray host as it comes and
// goes, the tray menu's settings are reachable in the window, and text follows the desktop's
// font size.

#include "AppQuit.h"
#include "GuiHarness.h"
#include "design/DesignSystem.h"
#include "device/DeviceBar.h"
#include "support/TestSupport.h"
#include "tray/TrayHost.h"
#include "tray/TrayKeeper.h"
#include "tray/TrayMenu.h"
#include "welcome/WelcomeView.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A session bus of the test's own, so a fake tray host can come and go on it.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        if (QStandardPaths::findExecutable(u"dbus-daemon"_s).isEmpty())
            return;
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--print-address"_s, u"--nofork"_s});
        if (m_daemon.waitForReadyRead(5000))
            address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateSessionBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished(2000);
    }
    QDBusConnection connect(const QString& name) const
    {
        return QDBusConnection::connectToBus(address, name);
    }

    QString address;

private:
    QProcess m_daemon;
};

// What a panel's StatusNotifierWatcher shows of itself: whether a host is registered at it.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return host; }
    bool host = false;

Q_SIGNALS:
    void StatusNotifierHostRegistered();
};

} // namespace

// The application's own quit, as Ctrl+Q and the window's menu reach it: no window can refuse it.
TEST(DesktopFaces, QuittingEndsTheApplicationWithOrWithoutATray)
{
    for (const bool tray : {true, false}) {
        for (const bool shortcut : {true, false}) {
            SCOPED_TRACE(tray ? "tray" : "no tray");
            SCOPED_TRACE(shortcut ? "Ctrl+Q" : "退出录音笔导入器");
            GuiHarness h;
            QList<int> exits;
            AppQuit quit(h.engine(), std::chrono::seconds(5),
                         [&exits](int status) { exits << status; });
            h.model().actions.quit = [&quit] {
                quit.request();
            };
            QObject::connect(&quit, &AppQuit::quitting, [&h] { h.state().window()->hide(); });
            h.state().setTrayPresent(tray);
            h.state().showMainWindow();
            MainWindow* w = h.state().window();
            if (shortcut) {
                w->activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(w));
                QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
            } else {
                for (QAction* a : w->findChild<QToolButton*>(u"accountMenu"_s)->menu()->actions()) {
                    if (a->text() == u"退出录音笔导入器"_s)
                        a->trigger();
                }
            }
            EXPECT_EQ(exits, QList<int>{0});
            EXPECT_FALSE(w->isVisible());
        }
    }
}

// Qt's own quit asks every window to close first and gives up when one refuses; a window that
// only minimises must let it through.
TEST(DesktopFaces, AQuitRequestClosesTheWindowEvenWithoutATray)
{
    // Sees the request after the window did, closes the window as Qt would, and keeps the
    // test's application running.
    struct CloseDuringQuit : QObject {
        MainWindow* window = nullptr;
        std::optional<bool> closed;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() != QEvent::Quit || !window)
                return false;
            closed = window->close();
            return true;
        }
    } probe;
    qApp->installEventFilter(&probe);
    GuiHarness h;
    h.state().showMainWindow();
    probe.window = h.state().window();
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    EXPECT_EQ(probe.closed, true);
    qApp->removeEventFilter(&probe);
}

TEST(DesktopFaces, ClosingHidesTheWindowOnlyWhileATrayCanBringItBack)
{
    GuiHarness h;
    h.state().showMainWindow();
    MainWindow* w = h.state().window();
    ASSERT_TRUE(w);
    // The user's close through the window system, as the title bar sends it.
    w->windowHandle()->close();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());

    h.state().setTrayPresent(true);
    h.state().showMainWindow();
    w->windowHandle()->close();
    EXPECT_FALSE(w->isVisible());
    // The tray leaves while the window is hidden: the window is the face again.
    h.state().setTrayPresent(false);
    EXPECT_TRUE(w->isVisible());
}

TEST(DesktopFaces, TrayIconFollowsTheTrayHostComingAndGoing)
{
    const PrivateSessionBus bus;
    if (bus.address.isEmpty())
        GTEST_SKIP() << "needs dbus-daemon (Debian package dbus) for a private session bus";
    QDBusConnection app = bus.connect(u"app"_s);
    QDBusConnection panel = bus.connect(u"panel"_s);
    ASSERT_TRUE(app.isConnected() && panel.isConnected());

    GuiHarness h;
    h.state().showMainWindow();
    TrayMenu menu(h.model(), h.dialogs());
    TrayHost host(app);
    TrayKeeper keeper(host, h.state(), menu);
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(keeper.icon());
    EXPECT_FALSE(h.state().trayPresent());

    // A panel starts late: its watcher first, its host a moment later.
    FakeWatcher watcher;
    ASSERT_TRUE(panel.registerObject(u"/StatusNotifierWatcher"_s, &watcher,
                                     QDBusConnection::ExportAllProperties |
                                         QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(panel.registerService(u"org.kde.StatusNotifierWatcher"_s));
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(keeper.icon());
    watcher.host = true;
    Q_EMIT watcher.StatusNotifierHostRegistered();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return keeper.icon() != nullptr; }));
    EXPECT_TRUE(h.state().trayPresent());

    // The panel goes (a restart, say) while the window is hidden, then comes back.
    h.state().window()->hide();
    ASSERT_TRUE(panel.unregisterService(u"org.kde.StatusNotifierWatcher"_s));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return keeper.icon() == nullptr; }));
    EXPECT_TRUE(h.state().window()->isVisible());
    ASSERT_TRUE(panel.registerService(u"org.kde.StatusNotifierWatcher"_s));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return keeper.icon() != nullptr; }));
    panel.unregisterObject(u"/StatusNotifierWatcher"_s);
}

TEST(DesktopFaces, TheWindowHoldsTheTrayMenusSettingsWithItsTexts)
{
    GuiHarness h;
    DeviceBar bar(h.model(), h.dialogs());
    QMenu* menu = bar.findChild<QToolButton*>(u"accountMenu"_s)->menu();
    ASSERT_TRUE(menu);
    h.model().setMinUploadMinutes(5);
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts << (a->isSeparator() ? u"—"_s : a->text());
    EXPECT_EQ(texts,
              (QStringList{u"打开导入文件夹"_s, u"查看同步日志"_s, u"—"_s, u"开机自启（未开启）"_s,
                           u"短录音门槛：5 分钟以下只落盘"_s, u"同步后自动清理设备（已关闭）"_s,
                           u"—"_s, u"退出登录"_s, u"退出录音笔导入器"_s}));

    // The entries act as the tray's do, with the same questions first.
    const auto choose = [menu](const QString& text) {
        for (QAction* a : menu->actions()) {
            if (a->text() == text)
                a->trigger();
        }
    };
    int minutes = -1;
    h.model().actions.setMinUploadMinutes = [&minutes](int m) {
        minutes = m;
    };
    h.dialogs().textAnswer = u"12"_s;
    choose(u"短录音门槛：5 分钟以下只落盘"_s);
    EXPECT_EQ(minutes, 12);
    bool cleanup = false;
    h.model().actions.setCleanup = [&cleanup](bool on) {
        cleanup = on;
    };
    h.dialogs().answer = 1; // 取消
    choose(u"同步后自动清理设备（已关闭）"_s);
    EXPECT_FALSE(cleanup);
    EXPECT_EQ(h.dialogs().asked.last().buttons.first(), u"我明白，开启"_s);
    choose(u"打开导入文件夹"_s);
    EXPECT_EQ(h.shell().opened.last(), QUrl::fromLocalFile(h.model().importFolder));
}

TEST(DesktopFaces, TextFollowsTheDesktopsFontSize)
{
    const QFont desktop = QApplication::font();
    for (const double body : {9.0, 11.0, 20.0}) {
        SCOPED_TRACE(body);
        QFont f = desktop;
        f.setPointSizeF(body);
        QApplication::setFont(f);
        // The design's 13-point body is the desktop's body; its other sizes scale with it.
        EXPECT_DOUBLE_EQ(DS::font(13).pointSizeF(), body);
        EXPECT_DOUBLE_EQ(DS::font(26, QFont::Bold).pointSizeF(), 2 * body);
        EXPECT_EQ(DS::font(26, QFont::Bold).weight(), QFont::Bold);
    }
    QApplication::setFont(desktop);
}

TEST(DesktopFaces, NoTextNamesAnotherPlatform)
{
    GuiHarness h;
    WelcomeView welcome(h.model());
    QStringList texts;
    for (const QLabel* l : welcome.findChildren<QLabel*>())
        texts << l->text();
    EXPECT_TRUE(texts.contains(u"打开电脑的蓝牙"_s));
    EXPECT_TRUE(texts.contains(u"蓝牙关着或没装好时，这里会告诉你怎么办"_s));
    for (const QString& text : texts) {
        for (const QString& other : {u"iCloud"_s, u"访达"_s, u"系统会问"_s})
            EXPECT_FALSE(text.contains(other)) << text.toStdString();
    }
}

#include "DesktopFacesTest.moc"
