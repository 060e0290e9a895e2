#include "device/BLEScanner.h"

#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/DeviceTimer.h"
#include "device/UuidMatch.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

BLEScanner::BLEScanner(CentralPort& port, double scanPowerOn, double scanRetry)
    : m_port(port), m_scanPowerOn(scanPowerOn), m_scanRetry(scanRetry)
{
    QObject::connect(&port, &CentralPort::stateUpdated, &m_ctx,
                     [this](int s) { onStateUpdated(s); });
    QObject::connect(&port, &CentralPort::scanFailed, &m_ctx,
                     [this](const QString& error) { onScanFailed(error); });
    QObject::connect(&port, &CentralPort::advertised, &m_ctx,
                     [this](const QString& p, const std::optional<QString>& n, const QStringList& s,
                            int rssi) { onAdvertised(p, n, s, rssi); });
}

BLEScanner::~BLEScanner()
{
    for (auto& sink : m_advSinks) {
        sink->end();
    }
    m_advSinks.clear();
    if (m_scanning) {
        m_port.stopScan();
    }
}

QCoro::Task<> BLEScanner::waitPoweredOn(double timeout)
{
    // States on the way up (bluetoothd restarting, its adapter not there or not powered yet)
    // pass within a second: only the wait's own time-out decides that the radio is not there.
    const double deadline = DeviceTimer::now() + timeout;
    while (m_port.state() != CentralPort::poweredOn) {
        const double remaining = deadline - DeviceTimer::now();
        if (remaining <= 0) {
            throw BLEError::bluetoothUnavailable(QStringLiteral("state=") +
                                                 QString::number(m_port.state()));
        }
        OnceResume<bool> woken;
        m_stateWaiters.push_back(woken);
        DeviceTimer timer(&m_ctx, remaining, [woken] { woken.fire(false); });
        co_await woken;
    }
}

void BLEScanner::onStateUpdated(int state)
{
    auto waiters = std::exchange(m_stateWaiters, {});
    if (state != CentralPort::poweredOn) {
        m_scanning = false;
    } else if (!m_advSinks.isEmpty() || m_timedScanDepth > 0) {
        beginScanning();
    }
    for (const auto& w : waiters) {
        w.fire(true);
    }
}

void BLEScanner::onScanFailed(const QString& error)
{
    if (!m_scanning)
        return; // a scan nobody runs any more, or one the radio already ended
    m_scanning = false;
    ++m_scanFailures;
    if (!m_scanError && m_onScanFailed)
        m_onScanFailed(error);
    m_scanError = error;
    // Whoever waits for sightings would otherwise wait for ever: try again in a moment.
    if (m_retryPending)
        return;
    m_retryPending = true;
    QTimer::singleShot(std::chrono::milliseconds(qRound64(m_scanRetry * 1000)), &m_ctx, [this] {
        m_retryPending = false;
        if (!m_advSinks.isEmpty() || m_timedScanDepth > 0)
            beginScanning();
    });
}

void BLEScanner::beginScanning()
{
    if (m_port.state() == CentralPort::poweredOn && !m_scanning) {
        m_scanning = true;
        m_port.startScan();
    }
}

void BLEScanner::stopScanningIfIdle()
{
    if (m_timedScanDepth == 0 && m_advSinks.isEmpty() && m_scanning) {
        m_scanning = false;
        m_port.stopScan();
    }
}

void BLEScanner::onAdvertised(const QString& peripheral, const std::optional<QString>& localName,
                              const QStringList& services, int rssi)
{
    Discovered d;
    d.peripheral = peripheral;
    d.byService = std::any_of(services.begin(), services.end(),
                              [](const QString& s) { return UuidMatch::is(s, "ae20"); });
    if (localName) {
        d.name = *localName;
    } else if (const QString n = m_port.peripheralName(peripheral); !n.isEmpty()) {
        d.name = n;
    } else {
        d.name = QStringLiteral("(无名)");
    }
    d.rssi = rssi;
    m_scanError.reset();
    if (!m_discovered.contains(peripheral)) {
        m_discoveredOrder.append(peripheral);
    }
    m_discovered.insert(peripheral, d);
    const auto sinks = m_advSinks; // a consumer may close its stream while we deliver
    for (const auto& sink : sinks) {
        sink->push(d);
    }
}

QCoro::Task<QList<Discovered>> BLEScanner::scan(double seconds)
{
    co_await waitPoweredOn(m_scanPowerOn);
    m_discovered.clear();
    m_discoveredOrder.clear();
    const int failuresBefore = m_scanFailures;
    ++m_timedScanDepth;
    beginScanning();
    {
        OnceResume<bool> done;
        DeviceTimer timer(&m_ctx, seconds, [done] { done.fire(true); });
        co_await done;
    }
    m_timedScanDepth = std::max(0, m_timedScanDepth - 1);
    stopScanningIfIdle();

    QList<Discovered> out;
    for (const QString& id : std::as_const(m_discoveredOrder)) {
        if (auto it = m_discovered.constFind(id); it != m_discovered.cend()) {
            out.append(*it);
        }
    }
    // Nothing heard while the platform refused to scan says nothing about the pen.
    if (out.isEmpty() && m_scanFailures != failuresBefore && m_scanError)
        throw BLEError::bluetoothUnavailable(QStringLiteral("扫描失败：") + *m_scanError);
    std::stable_sort(out.begin(), out.end(), [](const Discovered& a, const Discovered& b) {
        if (a.byService != b.byService) {
            return a.byService;
        }
        return a.rssi > b.rssi;
    });
    co_return out;
}

AdvertisementStream BLEScanner::advertisements()
{
    const int id = m_nextSinkId++;
    auto sink = std::make_shared<AdvertisementStream::Sink>();
    m_advSinks.insert(id, sink);
    beginScanning();
    return AdvertisementStream(this, m_alive, id, sink);
}

void BLEScanner::removeSink(int id)
{
    m_advSinks.remove(id);
    stopScanningIfIdle();
}

QCoro::Task<Discovered> BLEScanner::findRecorder(double seconds, QString name)
{
    const QList<Discovered> found = co_await scan(seconds);
    for (const Discovered& d : found) {
        if (d.byService) {
            co_return d;
        }
    }
    const QString hint = name.toLower();
    for (const Discovered& d : found) {
        if (d.name.toLower().contains(hint)) {
            co_return d;
        }
    }
    throw BLEError::notFound();
}
