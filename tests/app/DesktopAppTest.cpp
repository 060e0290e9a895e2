// The desktop application as a user starts it: one instance per user, a plain answer when there
// is no desktop to open a window on, a clean end however it is asked to end, and Wayland.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QProcessEnvironment privateEnvironment(const QString& home)
{
    QDir().mkpath(home + u"/run"_s);
    QFile::setPermissions(home + u"/run"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, home + u"/run"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
    env.insert(u"XDG_DATA_HOME"_s, home + u"/data"_s);
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    return env;
}

} // namespace

TEST(DesktopApp, WithoutADesktopPointsToTheHeadlessMode)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        env.remove(name);
    const TestSupport::ProgramRun r =
        TestSupport::runProgram(QStringLiteral(KESTREL_BIN), {}, {}, env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(u"kestrel --headless"_s)) << r.err.toStdString();
}

TEST(DesktopApp, SecondLaunchLeavesTheFirstRunning)
{
    QTemporaryDir home;
    const QProcessEnvironment env = privateEnvironment(home.path());
    const QStringList args{u"--archive-root"_s, home.path() + u"/archive"_s, u"--virtual-pen"_s,
                           QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s};

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(KESTREL_BIN), args);
    ASSERT_TRUE(first.waitForStarted());
    const QString socket = home.path() + u"/run/kestrel-desktop.sock"_s;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return QFile::exists(socket); }))
        << first.readAllStandardError().toStdString();

    const TestSupport::ProgramRun second =
        TestSupport::runProgram(QStringLiteral(KESTREL_BIN), args, {}, env);
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

// Logout sends SIGTERM; the desktop file's 退出 asks over the single-instance channel. Either way
// a transfer in flight ends as the station's does: a valid partial, the round's bookkeeping, 0.
TEST(DesktopApp, EndingMidTransferLeavesAValidPartial)
{
    QTemporaryDir home;
    const QProcessEnvironment env = privateEnvironment(home.path());
    const QString scenario = home.path() + u"/slow.json"_s;
    TestSupport::writeFile(scenario, R"({
        "name": "QX27-SLOW", "bytesPerSecond": 40000, "advertiseIntervalMs": 20,
        "files": [ { "name": "20260301-100000.opus", "generate": { "packets": 20000, "seed": 3 } } ]
    })");
    const QList<std::pair<const char*, std::function<void(QProcess&, const QString&)>>> ways{
        {"SIGTERM",
         [](QProcess& p, const QString&) {
             ::kill(pid_t(p.processId()), SIGTERM);
         }},
        {"kestrel --quit",
         [&env](QProcess&, const QString& root) {
             const TestSupport::ProgramRun r = TestSupport::runProgram(
                 QStringLiteral(KESTREL_BIN), {u"--quit"_s, u"--archive-root"_s, root}, {}, env);
             EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
         }},
    };
    for (qsizetype i = 0; i < ways.size(); ++i) {
        const auto& [what, end] = ways[i];
        SCOPED_TRACE(what);
        const QString root = home.path() + u"/archive"_s + QString::number(i);
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(KESTREL_BIN),
                  {u"--archive-root"_s, root, u"--virtual-pen"_s, scenario});
        const QString log = root + u"/out/swift-同步日志.txt"_s;
        ASSERT_TRUE(TestSupport::spinUntil([&] {
            return TestSupport::readFile(log).contains("要下 1 条");
        })) << app.readAllStandardError().toStdString();
        TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(300));
        end(app, root);
        ASSERT_TRUE(app.waitForFinished(10000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
        const QString said = QString::fromUtf8(TestSupport::readFile(log));
        EXPECT_TRUE(said.contains(u"断线中断 20260301-100000.opus"_s)) << said.toStdString();
        EXPECT_TRUE(said.contains(u"同步结束："_s));
        EXPECT_TRUE(TestSupport::validPartial(root, u"20260301-100000"_s, "800000"));
    }
}

// Under a real Wayland compositor (weston, headless): the window is a toplevel with the desktop
// file's name as its app id, the menu opens on request, and quitting ends it.
TEST(DesktopApp, RunsUnderWayland)
{
    if (QStandardPaths::findExecutable(u"weston"_s).isEmpty())
        GTEST_SKIP() << "needs weston (Debian package weston)";
    QTemporaryDir home;
    QProcessEnvironment env = privateEnvironment(home.path());
    QProcess weston;
    weston.setProcessEnvironment(env);
    weston.start(u"weston"_s, {u"--backend=headless-backend.so"_s, u"--socket=kestrel-test"_s,
                               u"--idle-time=0"_s, u"--no-config"_s});
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return QFile::exists(home.path() + u"/run/kestrel-test"_s);
    })) << weston.readAllStandardError().toStdString();
    env.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
    env.insert(u"WAYLAND_DISPLAY"_s, u"kestrel-test"_s);
    const QStringList archive{u"--archive-root"_s, home.path() + u"/archive"_s};

    QProcess app;
    QProcessEnvironment traced = env;
    traced.insert(u"WAYLAND_DEBUG"_s, u"client"_s); // the protocol requests, on stderr
    app.setProcessEnvironment(traced);
    app.start(QStringLiteral(KESTREL_BIN),
              archive + QStringList{u"--virtual-pen"_s,
                                    QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s});
    QString said;
    const auto saidTimes = [&](const QString& request) {
        said += QString::fromUtf8(app.readAllStandardError());
        return said.count(request);
    };
    const QString surface = u".get_toplevel("_s;
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return saidTimes(u"set_app_id(\"org.kestrel.Kestrel\")"_s) == 1 &&
               saidTimes(u"set_title(\"Mindvault\")"_s) == 1;
    })) << said.right(2000).toStdString();
    const qsizetype windows = saidTimes(surface);

    const TestSupport::ProgramRun menu = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), archive + QStringList{u"--menu"_s}, {}, env);
    EXPECT_EQ(menu.exitCode, 0) << menu.err.toStdString();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return saidTimes(surface) > windows; }));

    const TestSupport::ProgramRun quit = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), archive + QStringList{u"--quit"_s}, {}, env);
    EXPECT_EQ(quit.exitCode, 0) << quit.err.toStdString();
    EXPECT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    weston.terminate();
    weston.waitForFinished(5000);
}
