#include "DesktopCommand.h"

#include "AppQuit.h"
#include "AppState.h"
#include "AssembledEngine.h"
#include "CommandLine.h"
#include "DesktopShell.h"
#include "Dialogs.h"
#include "PenBackend.h"
#include "SignalWatcher.h"
#include "SingleInstance.h"
#include "device/CentralPort.h"
#include "platform/DesktopSession.h"
#include "sync/ArchiveLock.h"
#include "sync/ArchiveRootCheck.h"
#include "transcripts/TranscriptKeeper.h"
#include "tray/TrayHost.h"
#include "tray/TrayIcon.h"
#include "tray/TrayKeeper.h"
#include "tray/TrayMenu.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCursor>
#include <QDBusConnection>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace DesktopCommand {

namespace {

// How long quitting waits for a cut round to finish its bookkeeping: a logout does not wait
// for ever.
constexpr std::chrono::seconds quitGrace(5);

struct Settings {
    AssembledEngine::Args engine;
    bool menu = false;
    bool syncNow = false;
    bool quit = false;

    // What to hand a running instance.
    QByteArray request() const
    {
        return quit ? "quit" : syncNow ? "sync-now" : menu ? "menu" : "raise";
    }
};

std::optional<Settings> parse()
{
    QCommandLineParser parser;
    const QCommandLineOption menu(u"menu"_s);
    const QCommandLineOption syncNow(u"sync-now"_s);
    const QCommandLineOption quit(u"quit"_s);
    parser.addOptions(AssembledEngine::Args::options());
    parser.addOptions({menu, syncNow, quit});
    if (!CommandLine::parse(parser, usage()))
        return std::nullopt;
    Settings s;
    s.engine = AssembledEngine::Args::read(parser);
    s.menu = parser.isSet(menu);
    s.syncNow = parser.isSet(syncNow);
    s.quit = parser.isSet(quit);
    return s;
}

} // namespace

QString usage()
{
    return u"用法：kestrel [--archive-root 目录] [--virtual-pen 场景.json] [--fast-timing] "
           u"[--menu | --sync-now | --quit]\n"
           u"  不带命令时打开桌面应用（托盘图标和主窗口）；已经在运行时把它的窗口调到前面\n"
           u"  --archive-root  归档根目录（默认：文档文件夹下的「录音项目」）\n"
           u"  --virtual-pen   连接按场景文件模拟的虚拟录音笔，而不是真的蓝牙\n"
           u"  --fast-timing   所有冷却和轮询间隔缩短为二十分之一（演示用）\n"
           u"  --menu          在鼠标处弹出托盘菜单（没有托盘的桌面可以把它设成快捷键）\n"
           u"  --sync-now      立即同步一轮（没在运行时先打开它）\n"
           u"  --quit          让正在运行的桌面应用退出（没在运行时什么也不做）\n"
           u"无窗口模式：kestrel --headless（kestrel --headless --help 看它的选项）"_s;
}

int main(int argc, char** argv)
{
    // Without a graphical session Qt would abort; a pen station without one has the headless
    // mode.
    if (!DesktopSession::available()) {
        CommandLine::err(u"找不到图形桌面（没有 DISPLAY 或 WAYLAND_DISPLAY），打不开窗口。"
                         u"没有桌面的电脑上用无窗口模式：kestrel --headless "
                         u"[--archive-root 目录] [--virtual-pen 场景.json]"_s);
        return CommandLine::usage;
    }
    QApplication app(argc, argv);
    // The application name is X11's WM_CLASS, and the desktop file name the Wayland app id: both
    // must match the installed desktop file for docks and task bars to find its launcher.
    QCoreApplication::setApplicationName(QStringLiteral(KESTREL_WM_CLASS));
    QGuiApplication::setDesktopFileName(QStringLiteral(KESTREL_APP_ID));
    QGuiApplication::setApplicationDisplayName(u"Mindvault"_s);
    // The importer lives on in the tray when its window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::optional<Settings> settings = parse();
    if (!settings)
        return CommandLine::usage;

    SingleInstance instance;
    if (!instance.claim(settings->request()))
        return CommandLine::ok;
    if (settings->quit)
        return CommandLine::ok; // nothing runs that could be asked to end

    const SyncPaths paths = settings->engine.paths();
    // The archive must serve, and only one importer may work on it (a station may hold it).
    const auto refuse = [](const QString& why, int exit) {
        CommandLine::err(why);
        QMessageBox::critical(nullptr, u"Mindvault"_s, why);
        return exit;
    };
    if (const auto problem = ArchiveRootCheck::problem(paths.root(), ArchiveRootCheck::Use::write))
        return refuse(*problem, CommandLine::failed);
    ArchiveLock lock(paths.root());
    if (!lock.tryLock())
        return refuse(lock.heldBy() + u"先停掉它，再打开Mindvault。"_s, CommandLine::busy);

    PenBackend::Opened backend = PenBackend::open(settings->engine.virtualPen);
    if (!backend.central) {
        CommandLine::err(backend.error);
        QMessageBox::critical(nullptr, u"Mindvault"_s, backend.error);
        return CommandLine::failed;
    }

    AssembledEngine::Options options;
    options.fastTiming = settings->engine.fastTiming;
    AssembledEngine assembled(*backend.central, paths, backend.description, options);
    RadioNotice& radio = assembled.radio();
    EngineServices& services = assembled.services();
    // Once the app state has started the engine: what is wrong with the radio, if anything.
    QTimer::singleShot(0, &radio, [&radio, &backend] { radio.note(backend.central->state()); });

    // Assigned below, once everything it stops exists.
    std::function<void()> quit;
    AppServices appServices{assembled.engine(),
                            services.uploadQueue(),
                            services.penDeletions(),
                            services.manifestEdits(),
                            services.deviceBinder(),
                            TokenStore(),
                            LoginItem(),
                            [&assembled] { assembled.requestNotifications(); },
                            [&quit] {
                                quit();
                            }};
    MessageBoxDialogs dialogs;
    DesktopShell shell;
    const QString windowState =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + u"/window.ini"_s;
    AppState state(std::move(appServices), dialogs, shell, windowState);
    QObject::connect(&instance, &SingleInstance::raiseRequested, &state, &AppState::showMainWindow);
    // What the window reads of a transcript (a speaker just named, too) goes into the archive's
    // copy.
    state.model().actions.transcriptRead = [&services](QString transcriptId,
                                                       QList<TranscriptSegment> segments,
                                                       QList<SpeakerRow> speakers) {
        services.transcripts().refreshed(transcriptId, {std::move(segments), std::move(speakers)});
    };

    // The tray icon comes and goes with the desktop's tray host; without one the window is the
    // application's face and is never hidden.
    QGuiApplication::setWindowIcon(TrayIcon::render(SyncPhase::idle()));
    TrayMenu trayMenu(state.model(), dialogs);
    TrayHost trayHost(QDBusConnection::sessionBus());
    TrayKeeper trayKeeper(trayHost, state, trayMenu);

    // Every way out ends as the station does: see AppQuit.
    AppQuit appQuit(assembled.engine(), quitGrace);
    quit = [&appQuit] {
        appQuit.request();
    };
    QObject::connect(&appQuit, &AppQuit::quitting, &state, [&state, &trayKeeper] {
        if (MainWindow* window = state.window())
            window->hide();
        if (TrayIcon* icon = trayKeeper.icon())
            icon->systemTrayIcon().hide();
    });
    SignalWatcher signals_;
    QObject::connect(&signals_, &SignalWatcher::received, &app, [&quit] { quit(); });
    QObject::connect(&instance, &SingleInstance::quitRequested, &app, [&quit] { quit(); });
    QObject::connect(&instance, &SingleInstance::syncNowRequested, &state,
                     [&state] { state.model().actions.syncNow(); });

    // Desktops without a tray reach the menu's commands and settings this way.
    const auto popMenu = [&trayMenu] {
        trayMenu.menu().popup(QCursor::pos());
        trayMenu.menu().activateWindow();
    };
    QObject::connect(&instance, &SingleInstance::menuRequested, &trayMenu, popMenu);

    state.wire();
    state.showMainWindow();
    if (settings->menu)
        QTimer::singleShot(0, &trayMenu, popMenu);
    if (settings->syncNow)
        QTimer::singleShot(0, &state, [&state] { state.model().actions.syncNow(); });
    return QApplication::exec();
}

} // namespace DesktopCommand
