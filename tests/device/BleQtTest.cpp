// The Qt Bluetooth port against a mock BlueZ on a private system bus (tests/device/mock).
#include "DeviceTestSupport.h"
#include "QtBluetoothCentral.h"
#include "device/RadioState.h"
#include "support/PrivateSystemBus.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace DeviceTest;
using namespace Qt::Literals::StringLiterals;

namespace {

class BleQt : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const QString python = QStringLiteral("/usr/bin/python3");
        if (QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import dbus, gi")}) !=
            0) {
            skipReason = "needs Debian's python3 with dbus and gi";
            return;
        }
        // A computer with Bluetooth hardware, whatever this one has.
        static QTemporaryDir sysfs;
        TestSupport::writeFile(sysfs.filePath(u"class/bluetooth/hci0/name"_s), "hci0\n");
        qputenv("KESTREL_SYSFS", sysfs.path().toUtf8());
        bus = new PrivateSystemBus;
        if ((skipReason = bus->failure())) {
            return;
        }
        if (!startMock()) {
            skipReason = "the mock BlueZ did not come up";
        }
    }

    static bool bluezUp()
    {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(
            QStringLiteral("org.bluez"));
    }

    static bool startMock()
    {
        mock = new QProcess;
        mock->setProcessChannelMode(QProcess::ForwardedChannels);
        mock->start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KESTREL_MOCK_BLUEZ)});
        return TestSupport::spinUntil(bluezUp);
    }

    // As if bluetoothd crashed.
    static void killMock()
    {
        mock->kill();
        mock->waitForFinished(2000);
        delete std::exchange(mock, nullptr);
        ASSERT_TRUE(TestSupport::spinUntil([] { return !bluezUp(); }));
    }

    static void control(const QString& method, const QVariantList& args = {})
    {
        QDBusInterface mockPen(QStringLiteral("org.bluez"), QStringLiteral("/mockpen"),
                               QStringLiteral("com.kestrel.MockPen"), QDBusConnection::systemBus());
        const QDBusMessage reply = mockPen.callWithArgumentList(QDBus::Block, method, args);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

    static void TearDownTestSuite()
    {
        if (mock) {
            mock->kill();
            mock->waitForFinished(2000);
            delete std::exchange(mock, nullptr);
        }
        delete std::exchange(bus, nullptr);
    }

    void SetUp() override
    {
        if (skipReason) {
            GTEST_SKIP() << skipReason;
        }
    }

    static inline PrivateSystemBus* bus = nullptr;
    static inline QProcess* mock = nullptr;
    static inline const char* skipReason = nullptr;
};

} // namespace

TEST_F(BleQt, ScanConnectRequestAndDrop)
{
    QtBluetoothCentral port;
    BLEClientTiming timing;
    timing.connectStep = 5;
    timing.discoverStep = 5;
    BLEClient client(port, timing);
    run(client.waitPoweredOn(2));

    const Discovered pen = run(client.findRecorder(1.0, QStringLiteral("QX27")));
    EXPECT_EQ(pen.peripheral, QStringLiteral("C0:11:22:33:44:55"));
    EXPECT_EQ(pen.name, QStringLiteral("QX27-0001"));
    EXPECT_TRUE(pen.byService);

    run(client.connect(pen));
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(client.mtu(), 185); // from BlueZ's MTU property
    EXPECT_EQ(run(client.battery(2)), 77);

    std::optional<std::optional<QString>> dropped;
    client.setOnDisconnect([&](const std::optional<QString>& e) { dropped = e; });
    QDBusInterface control(QStringLiteral("org.bluez"), QStringLiteral("/mockpen"),
                           QStringLiteral("com.kestrel.MockPen"), QDBusConnection::systemBus());
    control.call(QStringLiteral("Drop"));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return dropped.has_value(); }));
    EXPECT_FALSE(client.isConnected());

    // Connect again, then a requested disconnection settles before the next connect.
    run(client.connect(pen));
    EXPECT_EQ(run(client.battery(2)), 77);
    dropped.reset();
    client.disconnect();
    run(client.connect(pen));
    EXPECT_EQ(run(client.battery(2)), 77);
    EXPECT_FALSE(dropped.has_value());
    client.disconnect();
}

// What the bus and sysfs show decides the state, and the state the advice: the remedy named is
// one that can work (no "start bluetoothd" without hardware, no "power on" under a block).
TEST(BluezRadio, StateAndAdviceFollowWhatTheBusAndSysfsShow)
{
    struct Case {
        const char* what;
        bool up, lost, denied, adapter, powered, blocked, noHardware;
        int state;
        QString advice; // a telling part of it
    };
    const QList<Case> cases{
        {"bluetoothd never seen", false, false, false, false, false, false, false, 0,
         u"sudo systemctl start bluetooth"_s},
        {"bluetoothd gone", false, true, false, false, false, false, false, 1,
         u"sudo systemctl restart bluetooth"_s},
        {"no hardware, so no bluetoothd", false, false, false, false, false, false, true, 2,
         u"没有找到蓝牙适配器"_s},
        {"no adapter", true, false, false, false, false, false, false, 2, u"没有找到蓝牙适配器"_s},
        {"access refused", false, false, true, false, false, false, false, 3, u"bluetooth 组"_s},
        {"adapter off", true, false, false, true, false, false, false, 4,
         u"蓝牙适配器关着：请打开蓝牙（bluetoothctl power on）；打不开的话多半是飞行模式或 rfkill "
         u"屏蔽了（rfkill unblock bluetooth）。打开后会自动接着同步。"_s},
        {"adapter off, blocked", true, false, false, true, false, true, false, 6,
         u"蓝牙被系统屏蔽了（飞行模式或 rfkill）：请关掉飞行模式，或运行 rfkill unblock "
         u"bluetooth，之后会自动接着同步。"_s},
        {"adapter on", true, false, false, true, true, false, false, 5, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BluezRadio::Facts f;
        f.serviceUp = c.up;
        f.serviceLost = c.lost;
        f.accessDenied = c.denied;
        f.hasAdapter = c.adapter;
        f.powered = c.powered;
        f.blocked = c.blocked;
        f.noHardware = c.noHardware;
        EXPECT_EQ(BluezRadio::stateOf(f), c.state);
        const QString advice = RadioState::advice(c.state);
        if (c.advice.isEmpty())
            EXPECT_TRUE(advice.isEmpty());
        else
            EXPECT_TRUE(advice.contains(c.advice)) << advice.toStdString();
    }
}

// The kernel's facts come from a sysfs tree the tests can lay out.
TEST(BluezRadio, ReadsRfkillAndTheControllersFromSysfs)
{
    struct Case {
        const char* what;
        QMap<QString, QByteArray> files; // path under the root -> content
        bool blocked, hardware;
    };
    const QList<Case> cases{
        {"nothing there", {}, false, false},
        {"a controller, unblocked",
         {{u"class/bluetooth/hci0/name"_s, "hci0"},
          {u"class/rfkill/rfkill0/type"_s, "bluetooth\n"},
          {u"class/rfkill/rfkill0/soft"_s, "0\n"},
          {u"class/rfkill/rfkill0/hard"_s, "0\n"}},
         false,
         true},
        {"soft block (airplane mode)",
         {{u"class/bluetooth/hci0/name"_s, "hci0"},
          {u"class/rfkill/rfkill1/type"_s, "bluetooth\n"},
          {u"class/rfkill/rfkill1/soft"_s, "1\n"},
          {u"class/rfkill/rfkill1/hard"_s, "0\n"}},
         true,
         true},
        {"hard block (a switch)",
         {{u"class/rfkill/rfkill0/type"_s, "bluetooth\n"},
          {u"class/rfkill/rfkill0/soft"_s, "0\n"},
          {u"class/rfkill/rfkill0/hard"_s, "1\n"}},
         true,
         false},
        {"only the wireless LAN blocked",
         {{u"class/rfkill/rfkill0/type"_s, "wlan\n"}, {u"class/rfkill/rfkill0/soft"_s, "1\n"}},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        for (auto it = c.files.cbegin(); it != c.files.cend(); ++it) {
            ASSERT_TRUE(QDir(root.path()).mkpath(QFileInfo(it.key()).path()));
            TestSupport::writeFile(root.filePath(it.key()), it.value());
        }
        QDir(root.path()).mkpath(u"class/bluetooth"_s); // an empty folder is no hardware
        EXPECT_EQ(BluezRadio::rfkillBlocked(root.path()), c.blocked);
        EXPECT_EQ(BluezRadio::hardwarePresent(root.path()), c.hardware);
    }
}

// Sets `resumed` once the radio is on (a coroutine with no captures: a capturing lambda would
// die before its coroutine).
QCoro::Task<> waitPoweredOn(BLEClient& client, double timeout, bool& resumed)
{
    co_await client.waitPoweredOn(timeout);
    resumed = true;
}

// Every change of BlueZ's radio is announced, and a wait for the radio ends as soon as it is
// back, whichever way it went: adapter switched off, adapter unplugged, bluetoothd gone.
TEST_F(BleQt, RadioStateFollowsBluezAndEveryChangeIsAnnounced)
{
    QtBluetoothCentral port;
    BLEClient client(port);
    QList<int> announced;
    QObject::connect(&port, &CentralPort::stateUpdated, [&](int s) { announced.append(s); });
    // bluetoothd adds its adapter unpowered and switches it on a moment later.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return port.state() == CentralPort::poweredOn; }));
    EXPECT_EQ(port.adapterDescription(), QStringLiteral("hci0（00:AA:BB:CC:DD:EE）"));

    struct Case {
        const char* what;
        std::function<void()> off;
        int state;
        std::function<void()> on;
    };
    const QList<Case> cases{
        {"adapter switched off", [] { control(QStringLiteral("SetPowered"), {false}); }, 4,
         [] {
             control(QStringLiteral("SetPowered"), {true});
         }},
        {"adapter unplugged", [] { control(QStringLiteral("RemoveAdapter")); }, 2,
         [] {
             control(QStringLiteral("AddAdapter"));
         }},
        {"bluetoothd gone", [] { killMock(); }, 1,
         [] {
             ASSERT_TRUE(startMock());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        announced.clear();
        c.off();
        ASSERT_TRUE(TestSupport::spinUntil([&] {
            return port.state() == c.state && !announced.isEmpty() && announced.last() == c.state;
        }));
        EXPECT_EQ(announced.first(), c.state);
        // Far longer than the outage: only the announcements can end the wait in time, and the
        // states on the way back (an adapter appears unpowered first) do not end it early.
        bool resumed = false;
        auto wait = waitPoweredOn(client, 60, resumed);
        c.on();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return resumed; }));
        EXPECT_EQ(port.state(), CentralPort::poweredOn);
        EXPECT_EQ(announced.last(), CentralPort::poweredOn);
        run(std::move(wait));
    }
}

// bluetoothd dying under a link ends it (Qt alone would not notice); once it is back the pen
// is found and connected again without a new port.
TEST_F(BleQt, BluetoothdGoneEndsTheLinkAndTheNextConnectWorks)
{
    QtBluetoothCentral port;
    BLEClientTiming timing;
    timing.connectStep = 5;
    timing.discoverStep = 5;
    BLEClient client(port, timing);
    const Discovered pen = run(client.findRecorder(1.0, QStringLiteral("QX27")));
    run(client.connect(pen));
    std::optional<std::optional<QString>> dropped;
    client.setOnDisconnect([&](const std::optional<QString>& e) { dropped = e; });

    killMock();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return dropped.has_value(); }));
    EXPECT_EQ(*dropped, QStringLiteral("蓝牙服务已退出"));
    EXPECT_FALSE(client.isConnected());

    ASSERT_TRUE(startMock());
    run(client.waitPoweredOn(10));
    const Discovered again = run(client.findRecorder(1.0, QStringLiteral("QX27")));
    run(client.connect(again));
    EXPECT_EQ(run(client.battery(2)), 77);
    client.disconnect();
}
