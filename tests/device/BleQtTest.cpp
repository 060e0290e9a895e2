// The Qt Bluetooth port against a mock BlueZ on a private system bus (tests/device/mock).
#include "DeviceTestSupport.h"
#include "QtBluetoothCentral.h"
#include "support/PrivateSystemBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <functional>
#include <gtest/gtest.h>

using namespace DeviceTest;

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

TEST(BluezRadio, StateFollowsWhatTheBusShows)
{
    struct Case {
        const char* what;
        bool up, lost, denied, adapter, powered;
        int state;
    };
    const QList<Case> cases{
        {"bluetoothd never seen", false, false, false, false, false, 0},
        {"bluetoothd gone", false, true, false, false, false, 1},
        {"no adapter", true, false, false, false, false, 2},
        {"access refused", false, false, true, false, false, 3},
        {"adapter off", true, false, false, true, false, 4},
        {"adapter on", true, false, false, true, true, 5},
    };
    for (const Case& c : cases) {
        BluezRadio::Facts f;
        f.serviceUp = c.up;
        f.serviceLost = c.lost;
        f.accessDenied = c.denied;
        f.hasAdapter = c.adapter;
        f.powered = c.powered;
        EXPECT_EQ(BluezRadio::stateOf(f), c.state) << c.what;
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
    ASSERT_EQ(port.state(), CentralPort::poweredOn);
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
        c.off();
        ASSERT_TRUE(TestSupport::spinUntil([&] {
            return port.state() == c.state && !announced.isEmpty() && announced.last() == c.state;
        }));
        // Far longer than the outage: only the announcement can end the wait in time.
        bool resumed = false;
        auto wait = waitPoweredOn(client, 60, resumed);
        c.on();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return resumed; }));
        EXPECT_EQ(announced.last(), CentralPort::poweredOn);
        run(std::move(wait));
    }
    EXPECT_EQ(announced, (QList<int>{4, 5, 2, 5, 1, 5}));
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
