#pragma once

#include "VirtualPen.h"
#include "device/BLEClient.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <exception>
#include <memory>
#include <optional>

namespace DeviceTest {

using TestSupport::run;

// Production time-outs shrunk so a test waits milliseconds, not seconds.
inline BLEClientTiming fastTiming()
{
    BLEClientTiming t;
    t.scanPowerOn = 0.5;
    t.scanRetry = 0.1;
    t.connectStep = 0.3;
    t.discoverStep = 0.3;
    t.settle = 0.5;
    t.listPoll = 0.05;
    t.downloadPoll = 0.05;
    t.verifyListIdle = 0.2;
    t.verifyListHard = 2;
    return t;
}

inline std::unique_ptr<VirtualPen> pen(const char* scenario)
{
    return VirtualPen::fromJson(QByteArray(scenario));
}

inline Discovered sightingOf(const VirtualPen& p)
{
    return Discovered{p.address(), p.name(), -60, true};
}

// A client already connected to the pen.
struct Session {
    std::unique_ptr<VirtualPen> pen;
    std::unique_ptr<BLEClient> client;

    explicit Session(const char* scenario, BLEClientTiming timing = fastTiming())
        : pen(DeviceTest::pen(scenario)), client(std::make_unique<BLEClient>(*pen, timing))
    {
        run(client->connect(sightingOf(*pen)));
    }
};

inline double secondsOf(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// A Central port the test drives by hand: it records what the client asked and the test emits
// the callbacks itself.
class ScriptedPort : public CentralPort {
public:
    int radio = CentralPort::poweredOn;
    int startScans = 0;
    int stopScans = 0;
    QStringList connects;
    QStringList cancels;
    QList<QByteArray> writes;

    int state() const override { return radio; }
    void startScan() override { ++startScans; }
    void stopScan() override { ++stopScans; }
    void connectPeripheral(const QString& p) override { connects.append(p); }
    void cancelConnection(const QString& p) override { cancels.append(p); }
    void discoverServices(const QString&, const QStringList&) override {}
    void discoverCharacteristics(const QString&, const QString&) override {}
    void setNotify(const QString&, const QString&, bool) override {}
    void writeWithoutResponse(const QString&, const QString&, const QByteArray& v) override
    {
        writes.append(v);
    }
    int maximumWriteLength(const QString&) const override { return 20; }
    QString peripheralName(const QString&) const override { return {}; }
};

} // namespace DeviceTest
