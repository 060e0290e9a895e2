#include "HeadlessCommand.h"

#include "AssembledEngine.h"
#include "CommandLine.h"
#include "PenBackend.h"
#include "SignalWatcher.h"
#include "device/BLEClient.h"
#include "device/CentralPort.h"
#include "sync/ArchiveLock.h"
#include "sync/ArchiveRootCheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace HeadlessCommand {

namespace {

struct Settings {
    AssembledEngine::Args engine;
    bool once = false;
    bool acceptRebind = false;
};

std::optional<Settings> parse()
{
    QCommandLineParser parser;
    const QCommandLineOption headless(u"headless"_s);
    const QCommandLineOption once(u"once"_s);
    const QCommandLineOption rebind(u"accept-rebind"_s);
    parser.addOptions({headless, once, rebind});
    parser.addOptions(AssembledEngine::Args::options());
    if (!CommandLine::parse(parser, usage()))
        return std::nullopt;
    Settings s;
    s.engine = AssembledEngine::Args::read(parser);
    s.once = parser.isSet(once);
    s.acceptRebind = parser.isSet(rebind);
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
    const SyncPaths paths = settings->engine.paths();
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

    PenBackend::Opened backend = PenBackend::open(settings->engine.virtualPen);
    if (!backend.central) {
        CommandLine::err(backend.error);
        return CommandLine::failed;
    }

    AssembledEngine::Options options;
    options.fastTiming = settings->engine.fastTiming;
    // A station nobody watches cannot answer the rebind question on a device page: the
    // operator answers it in advance.
    options.acceptRebind = settings->acceptRebind;
    options.logObserver = [](const QString& line) {
        CommandLine::out(line);
    };
    AssembledEngine assembled(*backend.central, paths, backend.description, options);
    assembled.requestNotifications();
    SyncEngine& engine = assembled.engine();

    // BlueZ keeps a link whose client has left the bus (the pen would stay connected, unseen
    // by the next run): the link goes down before the process ends, whichever way it ends.
    auto leave = [&engine](int status) {
        [](SyncEngine* e, int code) -> QCoro::Task<> {
            co_await e->client().close(BLEClientTiming().settle);
            QCoreApplication::exit(code);
        }(&engine, status);
    };

    // A finished round decides the exit status of --once; after a stop request it ends the
    // process once the round has done its bookkeeping. A --once round cut short by that request
    // did not do what was asked, whatever it saved on the way.
    bool quitting = false;
    QObject::connect(&engine, &SyncEngine::roundEnded, &app, [&] {
        if (!settings->once && !quitting)
            return;
        const bool failed =
            engine.phase().is(SyncPhase::Kind::Failed) || (settings->once && quitting);
        const int status = failed ? CommandLine::failed : CommandLine::ok;
        // A single round's speech verdicts belong in its log: wait for the screening of what it
        // imported (a stop request does not wait).
        if (settings->once && !quitting && engine.analysing()) {
            QObject::connect(&engine, &SyncEngine::analysesFinished, &app,
                             [status, leave] { leave(status); });
            return;
        }
        leave(status);
    });
    SignalWatcher signals_;
    QObject::connect(&signals_, &SignalWatcher::received, &app, [&] {
        quitting = true;
        if (!settings->once)
            engine.stop();
        // Only a connected round has files in flight; anything else (listening, scanning,
        // connecting) can simply end, and a --once that ends so did not complete its round.
        if (engine.isSyncing() && engine.device().connected)
            engine.interruptRound();
        else
            leave(settings->once ? CommandLine::failed : CommandLine::ok);
    });

    if (settings->once) {
        engine.loadCleanupSettingsOnce();
        engine.loadWitnesses();
        engine.syncNow();
    } else {
        engine.start();
        assembled.radio().note(backend.central->state());
    }
    return QCoreApplication::exec();
}

} // namespace HeadlessCommand
