#include "HeadlessCommand.h"

#include "CommandLine.h"
#include "EngineServices.h"
#include "FastTiming.h"
#include "PenBackend.h"
#include "SignalWatcher.h"
#include "cloud/UploadTiming.h"
#include "device/CentralPort.h"
#include "platform/Notify.h"
#include "sync/ArchiveLock.h"
#include "sync/ArchiveRootCheck.h"
#include "sync/EngineTiming.h"
#include "sync/RadioNotice.h"
#include "sync/SyncEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace HeadlessCommand {

namespace {

// The pen family's advertised-name hint.
const QString deviceNameHint = u"QX27"_s;

constexpr double fastFactor = FastTiming::factor;

struct Settings {
    bool once = false;
    bool fastTiming = false;
    bool acceptRebind = false;
    std::optional<QString> archiveRoot;
    std::optional<QString> virtualPen;
};

std::optional<Settings> parse()
{
    QCommandLineParser parser;
    const QCommandLineOption headless(u"headless"_s);
    const QCommandLineOption once(u"once"_s);
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    const QCommandLineOption pen(u"virtual-pen"_s, {}, u"SCENARIO"_s);
    const QCommandLineOption fast(u"fast-timing"_s);
    const QCommandLineOption rebind(u"accept-rebind"_s);
    parser.addOptions({headless, once, root, pen, fast, rebind});
    if (!CommandLine::parse(parser, usage()))
        return std::nullopt;
    Settings s;
    s.once = parser.isSet(once);
    s.fastTiming = parser.isSet(fast);
    s.acceptRebind = parser.isSet(rebind);
    if (parser.isSet(root))
        s.archiveRoot = parser.value(root);
    if (parser.isSet(pen))
        s.virtualPen = parser.value(pen);
    return s;
}

} // namespace

QString usage()
{
    return u"用法：kestrel --headless [--once] [--archive-root 目录] [--virtual-pen 场景.json] "
           u"[--fast-timing] [--accept-rebind]\n"
           u"  --headless      不开窗口，持续监听录音笔并同步，日志同时打印到标准输出；Ctrl-C "
           u"结束\n"
           u"  --once          只手动同步一轮（搜索、同步、推送）就退出：完成为 0，失败为 1，"
           u"归档正被另一个导入程序使用为 3\n"
           u"  --archive-root  归档根目录（默认：文档文件夹下的「录音项目」）\n"
           u"  --virtual-pen   连接按场景文件模拟的虚拟录音笔，而不是真的蓝牙\n"
           u"  --fast-timing   所有冷却和轮询间隔缩短为二十分之一（演示用）\n"
           u"  --accept-rebind "
           u"录音笔上次绑的是别的组织时，直接改绑到当前登录的账号并照常同步"
           u"（无人值守的工作站用）\n"
           u"其他命令：kestrel sign-in --email 邮箱 [--archive-root 目录]；kestrel sign-out；"
           u"kestrel status [--archive-root 目录] [--offline]；kestrel audit [--archive-root 目录]"_s;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"kestrel"_s);
    const std::optional<Settings> settings = parse();
    if (!settings)
        return CommandLine::usage;
    const SyncPaths paths =
        settings->archiveRoot ? SyncPaths(*settings->archiveRoot) : SyncPaths::standard();
    // Without an archive no round can succeed, and its log could not even say why.
    if (const auto problem =
            ArchiveRootCheck::problem(paths.root(), ArchiveRootCheck::Use::write)) {
        CommandLine::err(*problem);
        return CommandLine::failed;
    }

    // One importer per archive. A single round gives up at once; a station waits its turn
    // (a stop request meanwhile simply ends the process: nothing has started).
    ArchiveLock lock(paths.root());
    if (!lock.tryLock()) {
        CommandLine::err(lock.heldBy());
        if (settings->once)
            return CommandLine::busy;
        CommandLine::err(u"等它退出后自动开始。"_s);
        while (!lock.tryLock(std::chrono::seconds(2))) {
        }
    }

    PenBackend::Opened backend = PenBackend::open(settings->virtualPen);
    if (!backend.central) {
        CommandLine::err(backend.error);
        return CommandLine::failed;
    }

    // A pen station without a desktop session has nobody to show notifications to.
    std::optional<Notify> notify;
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        notify.emplace();
        notify->request();
    }
    SyncEngine::Options options;
    if (settings->fastTiming)
        options.timing = FastTiming::engine();
    options.notify = [&notify](const QString& body, const QString& title) {
        if (notify)
            notify->send(body, title);
    };
    options.logObserver = [](const QString& line) {
        CommandLine::out(line);
    };
    const double cooldown =
        EngineTiming::defaultCooldown / (settings->fastTiming ? fastFactor : 1.0);
    SyncEngine engine(*backend.central, paths, cooldown, deviceNameHint, options);
    // Pushes recordings to the service and follows them when the archive names one.
    EngineServices::Options serviceOptions;
    if (settings->fastTiming)
        serviceOptions.uploadTiming = UploadTiming().scaled(1.0 / fastFactor);
    // A station nobody watches cannot answer the rebind question on a device page: the
    // operator answers it in advance.
    serviceOptions.acceptRebind = settings->acceptRebind;
    EngineServices services(engine, serviceOptions);
    engine.log(backend.description);
    RadioNotice radio(*backend.central, engine);

    // A finished round decides the exit status of --once; after a stop request it ends the
    // process once the round has done its bookkeeping. A --once round cut short by that request
    // did not do what was asked, whatever it saved on the way.
    bool quitting = false;
    QObject::connect(&engine, &SyncEngine::roundEnded, &app, [&] {
        if (settings->once || quitting) {
            const bool failed =
                engine.phase().is(SyncPhase::Kind::Failed) || (settings->once && quitting);
            QCoreApplication::exit(failed ? CommandLine::failed : CommandLine::ok);
        }
    });
    SignalWatcher signals_;
    QObject::connect(&signals_, &SignalWatcher::received, &app, [&] {
        quitting = true;
        if (!settings->once)
            engine.stop();
        // Only a connected round has files in flight; anything else (listening, scanning,
        // connecting) can simply end, and a --once that ends so did not complete its round.
        if (engine.isSyncing && engine.device().connected)
            engine.interruptRound();
        else
            QCoreApplication::exit(settings->once ? CommandLine::failed : CommandLine::ok);
    });

    if (settings->once) {
        engine.loadCleanupSettingsOnce();
        engine.loadWitnesses();
        engine.syncNow();
    } else {
        engine.start();
        radio.note(backend.central->state());
    }
    return QCoreApplication::exec();
}

} // namespace HeadlessCommand
