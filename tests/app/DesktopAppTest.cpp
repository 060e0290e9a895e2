// The desktop application as a user starts it: one instance per user, and a plain answer when
// there is no desktop to open a window on.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QProcessEnvironment privateEnvironment(const QString& home)
{
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
    QDir().mkpath(home.path() + u"/run"_s);
    QFile::setPermissions(home.path() + u"/run"_s,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
