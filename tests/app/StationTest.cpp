// The pen station (kestrel --headless as the systemd unit runs it) on a computer without any
// Bluetooth: it waits for the radio and says what to do, instead of exiting for the unit to
// restart it again and again.

#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(Station, WithoutBluetoothWaitsForTheRadio)
{
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No system bus at all: no bluetoothd, no adapter; and the kernel knows no controller.
    env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, u"unix:path="_s + dir.path() + u"/no-bus"_s);
    env.insert(u"KESTREL_SYSFS"_s, dir.path() + u"/sys"_s);
    QProcess station;
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(KESTREL_BIN),
                  {u"--headless"_s, u"--archive-root"_s, dir.path() + u"/archive"_s});
    QString out;
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        station.waitForReadyRead(50);
        out += QString::fromUtf8(station.readAllStandardOutput());
        return out.contains(u"蓝牙不可用"_s);
    })) << out.toStdString();
    // Without hardware bluetoothd does not even start: starting it is no remedy.
    EXPECT_TRUE(out.contains(u"这台电脑上没有找到蓝牙适配器"_s)) << out.toStdString();
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(station.state(), QProcess::Running);
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(5000));
    EXPECT_EQ(station.exitCode(), 0);
}
