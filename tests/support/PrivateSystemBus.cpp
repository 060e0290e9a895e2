#include "support/PrivateSystemBus.h"

#include "support/TestSupport.h"

#include <QStandardPaths>

namespace {

// A system bus anyone on the machine may own names on and talk to, as the mock BlueZ needs.
const char* kBusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    <allow user="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateSystemBus::PrivateSystemBus()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        m_failure = "needs dbus-daemon (Debian package dbus) for a private system bus";
        return;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    TestSupport::writeFile(config, kBusConfig);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                    QStringLiteral("--nofork")});
    if (!m_daemon.waitForReadyRead(5000)) {
        m_failure = "dbus-daemon could not start a private bus here";
        return;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_daemon.readLine().trimmed());
    // Qt's BlueZ version probe would fail against the mock and pick a backend that cannot work.
    qputenv("BLUETOOTH_FORCE_DBUS_LE_VERSION", "5.66");
}

PrivateSystemBus::~PrivateSystemBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(2000);
    }
}
