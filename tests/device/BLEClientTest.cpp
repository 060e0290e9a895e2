#include "DeviceTestSupport.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

const char* kPen = R"({ "name": "QX27-0001", "address": "C0:11:22:33:44:55", "files": [] })";

template <typename Fn> BLEError bleErrorOf(Fn&& fn)
{
    try {
        fn();
    } catch (const BLEError& e) {
        return e;
    }
    ADD_FAILURE() << "no BLEError thrown";
    return BLEError::notFound();
}

} // namespace

TEST(BLEClient, WaitsForTheRadioOrGivesUpWithItsState)
{
    ScriptedPort port;
    port.radio = 4;
    BLEClient client(port, fastTiming());
    QTimer::singleShot(50, &port, [&] {
        port.radio = CentralPort::poweredOn;
        Q_EMIT port.stateUpdated(port.radio);
    });
    QElapsedTimer t;
    t.start();
    run(client.waitPoweredOn(5));
    EXPECT_LT(secondsOf(t), 1.0); // woken by the state change, not the time-out

    port.radio = 4;
    const BLEError e = bleErrorOf([&] { run(client.waitPoweredOn(0.05)); });
    EXPECT_EQ(e.description(), QStringLiteral("蓝牙不可用：state=4"));
}

TEST(BLEClient, ScanOrdersSightingsAndFindRecorderPrefersTheService)
{
    ScriptedPort port;
    BLEClient client(port, fastTiming());
    auto emitAds = [&](bool penHasService) {
        Q_EMIT port.advertised(QStringLiteral("AA"), QStringLiteral("QX27-A1"), {}, -80);
        Q_EMIT port.advertised(QStringLiteral("BB"), QStringLiteral("Pen"),
                               penHasService ? QStringList{QStringLiteral("AE20")} : QStringList{},
                               -90);
        Q_EMIT port.advertised(QStringLiteral("CC"), std::nullopt, {}, -50);
    };
    QTimer::singleShot(10, &port, [&] { emitAds(true); });
    const Discovered byService = run(client.findRecorder(0.1, QStringLiteral("QX27")));
    EXPECT_EQ(byService.peripheral, QStringLiteral("BB"));
    EXPECT_TRUE(byService.byService);

    QTimer::singleShot(10, &port, [&] { emitAds(false); });
    const QList<Discovered> all = run(client.scan(0.1));
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0].name, QStringLiteral("(无名)")); // strongest first
    EXPECT_EQ(all[1].name, QStringLiteral("QX27-A1"));

    QTimer::singleShot(10, &port, [&] { emitAds(false); });
    EXPECT_EQ(run(client.findRecorder(0.1, QStringLiteral("qx27"))).peripheral,
              QStringLiteral("AA"));

    const BLEError e = bleErrorOf([&] { run(client.findRecorder(0.05, QStringLiteral("x"))); });
    EXPECT_EQ(e.description(), QStringLiteral("没找到录音笔"));
}

TEST(BLEClient, ScanningStopsOnlyWhenEveryScanAndStreamHasEnded)
{
    ScriptedPort port;
    BLEClient client(port, fastTiming());
    {
        AdvertisementStream stream = client.advertisements();
        auto shortScan = client.scan(0.05);
        auto longScan = client.scan(0.15);
        run(std::move(shortScan));
        EXPECT_EQ(port.stopScans, 0);
        run(std::move(longScan));
        EXPECT_EQ(port.stopScans, 0); // the stream is still open
        EXPECT_EQ(port.startScans, 1);
    }
    EXPECT_EQ(port.stopScans, 1);
}

// BlueZ can refuse or end a discovery (a busy controller, an adapter that goes); the platform
// does not try again, so the client does, and says why once, not at every retry.
TEST(BLEClient, AScanThePlatformEndsIsRetriedAndItsReasonToldOnce)
{
    ScriptedPort port;
    BLEClient client(port, fastTiming());
    QStringList told;
    client.setOnScanFailed([&told](const QString& error) { told << error; });
    AdvertisementStream stream = client.advertisements();
    ASSERT_EQ(port.startScans, 1);
    for (int restart : {2, 3}) {
        Q_EMIT port.scanFailed(QStringLiteral("适配器忙"));
        EXPECT_TRUE(TestSupport::spinUntil([&] { return port.startScans == restart; }));
    }
    EXPECT_EQ(told, QStringList{QStringLiteral("适配器忙")});
    Q_EMIT port.advertised(QStringLiteral("AA"), QStringLiteral("Pen"), {}, -60);
    EXPECT_EQ(run(stream.next(0.1)).value().peripheral, QStringLiteral("AA"));
    Q_EMIT port.scanFailed(QStringLiteral("适配器不见了"));
    EXPECT_EQ(told.size(), 2); // it had worked again in between
    stream.close();

    // A timed scan that heard nothing while the platform refused says so, not "no pen".
    QTimer::singleShot(10, &port, [&] { Q_EMIT port.scanFailed(QStringLiteral("适配器忙")); });
    const BLEError e = bleErrorOf([&] { run(client.scan(0.05)); });
    EXPECT_EQ(e.description(), QStringLiteral("蓝牙不可用：扫描失败：适配器忙"));
}

TEST(BLEClient, AdvertisementStreamKeepsTheNewestSightingOfEachDevice)
{
    ScriptedPort port;
    BLEClient client(port, fastTiming());
    AdvertisementStream stream = client.advertisements();
    // A burst while the consumer is busy: the pen's sighting survives the neighbours after it.
    for (int rssi : {-90, -80, -70}) {
        Q_EMIT port.advertised(QStringLiteral("AA"), QStringLiteral("Pen"), {}, rssi);
        Q_EMIT port.advertised(QStringLiteral("BB"), QStringLiteral("Phone"), {}, rssi - 1);
    }
    const auto first = run(stream.next(0.1));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->peripheral, QStringLiteral("AA"));
    EXPECT_EQ(first->rssi, -70);
    const auto second = run(stream.next(0.1));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->peripheral, QStringLiteral("BB"));
    EXPECT_EQ(second->rssi, -71);
    EXPECT_FALSE(run(stream.next(0.05)).has_value()); // nothing newer

    QTimer::singleShot(20, &port, [&] {
        Q_EMIT port.advertised(QStringLiteral("AA"), QStringLiteral("Pen"), {}, -60);
    });
    EXPECT_EQ(run(stream.next()).value().rssi, -60);
    stream.close();
    EXPECT_FALSE(run(stream.next()).has_value());
}

TEST(BLEClient, ConnectStepFailuresCarryTheirTexts)
{
    struct Case {
        const char* faults;
        QString text;
    };
    const Case cases[] = {
        {R"({"ignoreConnect": true})",
         QStringLiteral("连接失败：连接超时（10s 内没有回应，多半是笔已经睡了）")},
        {R"({"ignoreDiscovery": true})",
         QStringLiteral("连接失败：服务发现超时（10s 内没有拿到 AE22 通知）")},
        {R"({"missingCharacteristics": ["ae21"]})", QStringLiteral("设备缺少特征 AE21")},
        {R"({"subscribeError": "拒绝"})", QStringLiteral("设备缺少特征 AE22 订阅失败：拒绝")},
    };
    for (const Case& c : cases) {
        const QByteArray scenario = QByteArray(R"({"files": [], "faults": )") + c.faults + "}";
        auto pen = VirtualPen::fromJson(scenario);
        BLEClient client(*pen, fastTiming());
        bool dropped = false;
        client.setOnDisconnect([&](const auto&) { dropped = true; });
        const BLEError e = bleErrorOf([&] { run(client.connect(sightingOf(*pen))); });
        EXPECT_EQ(e.description(), c.text) << c.faults;
        EXPECT_FALSE(client.isConnected()) << c.faults;
        // The attempt is cancelled on the pen's side, and that is not an unrequested drop.
        TestSupport::spinUntil([&] { return false; }, std::chrono::milliseconds(30));
        EXPECT_FALSE(pen->isLinked()) << c.faults;
        EXPECT_FALSE(dropped) << c.faults;
    }
}

TEST(BLEClient, ConnectedLinkOutlivesItsStepTimers)
{
    Session s(kPen);
    EXPECT_TRUE(s.client->isConnected());
    EXPECT_EQ(s.client->mtu(), 185);
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(400));
    EXPECT_TRUE(s.client->isConnected());
    EXPECT_EQ(run(s.client->battery(1)), 80);
}

TEST(BLEClient, DropDuringDiscoveryFailsTheStepAndTellsTheOwner)
{
    auto pen = DeviceTest::pen(R"({"files": [], "faults": {"ignoreDiscovery": true}})");
    BLEClientTiming timing = fastTiming();
    timing.discoverStep = 5;
    BLEClient client(*pen, timing);
    std::optional<std::optional<QString>> seen;
    client.setOnDisconnect([&](const std::optional<QString>& e) { seen = e; });
    QTimer::singleShot(50, pen.get(), [&] { pen->dropLink(QStringLiteral("超出范围")); });
    QElapsedTimer t;
    t.start();
    const BLEError e = bleErrorOf([&] { run(client.connect(sightingOf(*pen))); });
    EXPECT_LT(secondsOf(t), 2.0);
    EXPECT_EQ(e.kind(), BLEError::Kind::notConnected);
    EXPECT_EQ(e.description(), QStringLiteral("尚未连接"));
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(*seen, QStringLiteral("超出范围"));
}

TEST(BLEClient, ConnectAfterDisconnectWaitsForTheLinkToSettle)
{
    auto pen = DeviceTest::pen(R"({"files": [], "faults": {"disconnectConfirmMs": 150}})");
    BLEClientTiming timing = fastTiming();
    timing.settle = 2;
    BLEClient client(*pen, timing);
    bool dropped = false;
    client.setOnDisconnect([&](const auto&) { dropped = true; });
    run(client.connect(sightingOf(*pen)));
    client.disconnect();
    EXPECT_FALSE(client.isConnected());
    QElapsedTimer t;
    t.start();
    run(client.connect(sightingOf(*pen)));
    EXPECT_GE(secondsOf(t), 0.14);
    EXPECT_LT(secondsOf(t), 1.5);
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(pen->connectionCount(), 2);
    EXPECT_FALSE(dropped);

    // A confirmation that never comes costs the settle time-out, no more, and that attempt
    // fails rather than connect into a link still closing; the next one goes ahead.
    auto slowPen = DeviceTest::pen(R"({"files": [], "faults": {"disconnectConfirmMs": 60000}})");
    timing.settle = 0.1;
    BLEClient impatient(*slowPen, timing);
    run(impatient.connect(sightingOf(*slowPen)));
    impatient.disconnect();
    t.restart();
    const BLEError e = bleErrorOf([&] { run(impatient.connect(sightingOf(*slowPen))); });
    EXPECT_GE(secondsOf(t), 0.09);
    EXPECT_LT(secondsOf(t), 1.0);
    EXPECT_EQ(e.description(),
              BLEError::connectFailed(QStringLiteral("上一次的连接还没断开")).description());
    EXPECT_FALSE(impatient.isConnected());
    EXPECT_EQ(slowPen->connectionCount(), 1);
}

TEST(BLEClient, FramesWaitAndExpectDiscardsOtherKinds)
{
    ScriptedPort port;
    BLEClient client(port, fastTiming());
    auto connecting = client.connect(Discovered{QStringLiteral("P"), {}, 0, true});
    QTimer::singleShot(0, &port, [&] { Q_EMIT port.connected(QStringLiteral("P")); });
    QTimer::singleShot(20, &port, [&] {
        Q_EMIT port.servicesDiscovered(QStringLiteral("P"), {QStringLiteral("AE20")}, {});
        Q_EMIT port.characteristicsDiscovered(
            QStringLiteral("P"), QStringLiteral("AE20"),
            {QStringLiteral("AE21"), QStringLiteral("AE22"), QStringLiteral("AE23")}, {});
        Q_EMIT port.notificationStateUpdated(QStringLiteral("P"), QStringLiteral("AE22"), {});
    });
    run(std::move(connecting));
    EXPECT_EQ(client.mtu(), 23);

    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(run(client.nextFrame(0.1)).has_value());
    EXPECT_GE(secondsOf(t), 0.09);

    const QByteArray battery =
        Proto::buildFrame(Proto::T::ctrl, Proto::CtrlCmd::batteryAck, QByteArray(1, char(50)), 1);
    const QByteArray ack =
        Proto::buildFrame(Proto::T::file, Proto::FileCmd::delOneAck, QByteArray(1, '\0'), 2);
    QTimer::singleShot(10, &port, [&] {
        Q_EMIT port.valueUpdated(QStringLiteral("P"), QStringLiteral("AE23"),
                                 QByteArray::fromHex("001122") + battery.left(4));
        Q_EMIT port.valueUpdated(QStringLiteral("P"), QStringLiteral("AE23"), battery.mid(4));
        Q_EMIT port.valueUpdated(QStringLiteral("P"), QStringLiteral("AE22"), ack);
    });
    const auto got = run(client.expect(Proto::T::file, Proto::FileCmd::delOneAck, 1));
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->seq, 2);
    // The battery answer arrived first and was consumed by expect: it is gone.
    EXPECT_FALSE(run(client.nextFrame(0.02)).has_value());
    EXPECT_EQ(client.parserStats(), QStringLiteral("AE22: CRC错0 重同步0  AE23: CRC错0 重同步1"));

    // Writes longer than the link allows are split; sequence numbers count up per request.
    client.send(Proto::T::file, Proto::FileCmd::listReq);
    client.sendRaw(Proto::buildImportRequest(QStringLiteral("a.opus"), 0, client.nextSeq()));
    ASSERT_EQ(port.writes.size(), 3);
    EXPECT_EQ(port.writes[0], QByteArray::fromHex("5A010A8B02000200"));
    EXPECT_EQ(port.writes[1].size(), 20);
    EXPECT_EQ(port.writes[1] + port.writes[2],
              Proto::buildImportRequest(QStringLiteral("a.opus"), 0, 2));

    // A drop resumes a waiting nextFrame at once and tells the owner.
    bool dropped = false;
    client.setOnDisconnect([&](const auto&) { dropped = true; });
    QTimer::singleShot(
        20, &port, [&] { Q_EMIT port.disconnected(QStringLiteral("P"), QStringLiteral("gone")); });
    t.restart();
    EXPECT_FALSE(run(client.nextFrame(5)).has_value());
    EXPECT_LT(secondsOf(t), 1.0);
    EXPECT_TRUE(dropped);
    EXPECT_EQ(bleErrorOf([&] { client.send(0, 3); }).description(), QStringLiteral("尚未连接"));
}
