#include "device/BLEClient.h"

#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/DeviceTimer.h"

#include <algorithm>

namespace {

const QString kAE22 = QStringLiteral("AE22");
const QString kAE23 = QStringLiteral("AE23");

// A service or characteristic UUID given by the port, short ("ae21") or full
// ("0000ae21-0000-1000-8000-00805f9b34fb", braces allowed), is recognised by its 16-bit value.
bool uuidIs(const QString& uuid, const char* shortForm)
{
    QString u = uuid.toLower();
    if (u.startsWith(QLatin1Char('{')) && u.endsWith(QLatin1Char('}'))) {
        u = u.mid(1, u.size() - 2);
    }
    const QLatin1String s(shortForm);
    if (u.startsWith(s)) {
        return true;
    }
    return u.size() == 36 && u.startsWith(QLatin1String("0000")) && u.mid(4, 4) == s &&
           u.endsWith(QLatin1String("-0000-1000-8000-00805f9b34fb"));
}

} // namespace

BLEClient::BLEClient(CentralPort& port, Timing timing) : m_port(port), m_timing(timing)
{
    resetParsers();
    QObject::connect(&port, &CentralPort::stateUpdated, &m_ctx,
                     [this](int s) { onStateUpdated(s); });
    QObject::connect(&port, &CentralPort::advertised, &m_ctx,
                     [this](const QString& p, const std::optional<QString>& n, const QStringList& s,
                            int rssi) { onAdvertised(p, n, s, rssi); });
    QObject::connect(&port, &CentralPort::connected, &m_ctx,
                     [this](const QString& p) { onConnected(p); });
    QObject::connect(
        &port, &CentralPort::connectFailed, &m_ctx,
        [this](const QString& p, const std::optional<QString>& e) { onConnectFailed(p, e); });
    QObject::connect(
        &port, &CentralPort::disconnected, &m_ctx,
        [this](const QString& p, const std::optional<QString>& e) { handleDisconnect(p, e); });
    QObject::connect(&port, &CentralPort::servicesDiscovered, &m_ctx,
                     [this](const QString& p, const QStringList& s,
                            const std::optional<QString>& e) { onServicesDiscovered(p, s, e); });
    QObject::connect(
        &port, &CentralPort::characteristicsDiscovered, &m_ctx,
        [this](const QString& p, const QString& s, const QStringList& c,
               const std::optional<QString>& e) { onCharacteristicsDiscovered(p, s, c, e); });
    QObject::connect(&port, &CentralPort::notificationStateUpdated, &m_ctx,
                     [this](const QString& p, const QString& c, const std::optional<QString>& e) {
                         onNotificationState(p, c, e);
                     });
    QObject::connect(
        &port, &CentralPort::valueUpdated, &m_ctx,
        [this](const QString& p, const QString& c, const QByteArray& v) { onValue(p, c, v); });
}

BLEClient::~BLEClient()
{
    for (auto& sink : m_advSinks) {
        sink->end();
    }
    m_advSinks.clear();
    if (m_scanning) {
        m_port.stopScan();
    }
}

bool BLEClient::isConnected() const
{
    return m_peripheral.has_value();
}

void BLEClient::resetParsers()
{
    m_parsers.clear();
    m_parsers.insert(kAE22, FrameParser(kAE22));
    m_parsers.insert(kAE23, FrameParser(kAE23));
}

// ---------------------------------------------------------------------------------------------
// Radio and scanning

QCoro::Task<> BLEClient::waitPoweredOn(double timeout)
{
    if (m_port.state() != CentralPort::poweredOn) {
        OnceResume<bool> woken;
        m_stateWaiters.push_back(woken);
        DeviceTimer timer(&m_ctx, timeout, [woken] { woken.fire(false); });
        co_await woken;
    }
    const int state = m_port.state();
    if (state != CentralPort::poweredOn) {
        throw BLEError::bluetoothUnavailable(QStringLiteral("state=") + QString::number(state));
    }
}

void BLEClient::onStateUpdated(int state)
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

void BLEClient::beginScanning()
{
    if (m_port.state() == CentralPort::poweredOn && !m_scanning) {
        m_scanning = true;
        m_port.startScan();
    }
}

void BLEClient::stopScanningIfIdle()
{
    if (m_timedScanDepth == 0 && m_advSinks.isEmpty() && m_scanning) {
        m_scanning = false;
        m_port.stopScan();
    }
}

void BLEClient::onAdvertised(const QString& peripheral, const std::optional<QString>& localName,
                             const QStringList& services, int rssi)
{
    Discovered d;
    d.peripheral = peripheral;
    d.byService = std::any_of(services.begin(), services.end(),
                              [](const QString& s) { return uuidIs(s, "ae20"); });
    if (localName) {
        d.name = *localName;
    } else if (const QString n = m_port.peripheralName(peripheral); !n.isEmpty()) {
        d.name = n;
    } else {
        d.name = QStringLiteral("(无名)");
    }
    d.rssi = rssi;
    if (!m_discovered.contains(peripheral)) {
        m_discoveredOrder.append(peripheral);
    }
    m_discovered.insert(peripheral, d);
    const auto sinks = m_advSinks; // a consumer may close its stream while we deliver
    for (const auto& sink : sinks) {
        sink->push(d);
    }
}

QCoro::Task<QList<Discovered>> BLEClient::scan(double seconds, QString /*nameHint*/)
{
    co_await waitPoweredOn(m_timing.scanPowerOn);
    m_discovered.clear();
    m_discoveredOrder.clear();
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
    std::stable_sort(out.begin(), out.end(), [](const Discovered& a, const Discovered& b) {
        if (a.byService != b.byService) {
            return a.byService;
        }
        return a.rssi > b.rssi;
    });
    co_return out;
}

AdvertisementStream BLEClient::advertisements()
{
    const int id = m_nextSinkId++;
    auto sink = std::make_shared<AdvertisementStream::Sink>();
    m_advSinks.insert(id, sink);
    beginScanning();
    return AdvertisementStream(this, m_alive, id, sink);
}

void BLEClient::removeSink(int id)
{
    m_advSinks.remove(id);
    stopScanningIfIdle();
}

QCoro::Task<Discovered> BLEClient::findRecorder(double seconds, QString name)
{
    const QList<Discovered> found = co_await scan(seconds, name);
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

// ---------------------------------------------------------------------------------------------
// Connecting

std::function<void()> BLEClient::stepTimeout(std::optional<OnceResume<Result>>& slot,
                                             OnceResume<Result> step, QString peripheral,
                                             BLEError onTimeout)
{
    return [this, &slot, step, peripheral, onTimeout] {
        if (step.fired()) {
            return;
        }
        if (slot && *slot == step) {
            slot.reset();
        }
        step.fire(onTimeout);
        abandonLink(peripheral);
    };
}

void BLEClient::finishStep(std::optional<OnceResume<Result>>& slot, Result result)
{
    if (auto step = std::exchange(slot, std::nullopt)) {
        step->fire(std::move(result));
    }
}

// Gives up a link the app no longer wants (a failed or timed-out connect): it is cancelled like
// a requested disconnection, so its late callback settles instead of looking like a drop, and
// the client is idle at once.
void BLEClient::abandonLink(const QString& peripheral)
{
    if (m_peripheral == peripheral) {
        m_disconnecting = peripheral;
        m_peripheral.reset();
        m_writeChar.reset();
        wakeFrameWaiters();
    }
    m_port.cancelConnection(peripheral);
}

QCoro::Task<> BLEClient::connect(Discovered target)
{
    co_await waitDisconnectSettled(m_timing.settle);

    const QString id = target.peripheral;
    m_peripheral = id;
    m_writeChar.reset();
    m_notifyReady = 0;
    m_pending.clear();
    resetParsers();
    m_disconnecting.reset();
    for (const auto& w : std::exchange(m_settleWaiters, {})) {
        w.fire(true);
    }

    // Each step: install its waiter, arm its time-out, start it; the first of callback, error,
    // drop and time-out completes it.
    Result r;
    {
        OnceResume<Result> step;
        m_connectWaiter = step;
        DeviceTimer timer(&m_ctx, m_timing.connectStep,
                          stepTimeout(m_connectWaiter, step, id,
                                      BLEError::connectFailed(QStringLiteral(
                                          "连接超时（10s 内没有回应，多半是笔已经睡了）"))));
        m_port.connectPeripheral(id);
        r = co_await step;
    }
    if (!r) {
        OnceResume<Result> step;
        m_discoverWaiter = step;
        DeviceTimer timer(&m_ctx, m_timing.discoverStep,
                          stepTimeout(m_discoverWaiter, step, id,
                                      BLEError::connectFailed(QStringLiteral(
                                          "服务发现超时（10s 内没有拿到 AE22 通知）"))));
        m_port.discoverServices(id, {Proto::serviceMain});
        r = co_await step;
    }
    if (r) {
        // A half-made link is of no use to anyone: leave the client idle.
        if (m_peripheral == id) {
            abandonLink(id);
        }
        throw *r;
    }
    m_mtu = m_port.maximumWriteLength(id) + 3;
}

void BLEClient::onConnected(const QString& peripheral)
{
    if (m_peripheral == peripheral) {
        finishStep(m_connectWaiter, std::nullopt);
    }
}

void BLEClient::onConnectFailed(const QString& peripheral, const std::optional<QString>& error)
{
    if (m_peripheral != peripheral) {
        return;
    }
    // No link was made: nothing to cancel or wait for.
    m_peripheral.reset();
    m_writeChar.reset();
    wakeFrameWaiters();
    finishStep(m_connectWaiter, BLEError::connectFailed(error.value_or(QStringLiteral("未知"))));
}

void BLEClient::onServicesDiscovered(const QString& peripheral, const QStringList& services,
                                     const std::optional<QString>& /*error*/)
{
    if (m_peripheral != peripheral) {
        return;
    }
    if (services.isEmpty()) {
        finishStep(m_discoverWaiter, BLEError::missingCharacteristic(QStringLiteral("AE20 服务")));
        return;
    }
    auto it = std::find_if(services.begin(), services.end(),
                           [](const QString& s) { return uuidIs(s, "ae20"); });
    m_port.discoverCharacteristics(peripheral, it != services.end() ? *it : services.first());
}

void BLEClient::onCharacteristicsDiscovered(const QString& peripheral, const QString& /*service*/,
                                            const QStringList& chars,
                                            const std::optional<QString>& /*error*/)
{
    if (m_peripheral != peripheral) {
        return;
    }
    for (const QString& c : chars) {
        if (uuidIs(c, "ae21")) {
            m_writeChar = c;
        } else if (uuidIs(c, "ae22") || uuidIs(c, "ae23")) {
            m_port.setNotify(peripheral, c, true);
        }
    }
    if (!m_writeChar) {
        finishStep(m_discoverWaiter, BLEError::missingCharacteristic(QStringLiteral("AE21")));
    }
}

void BLEClient::onNotificationState(const QString& peripheral, const QString& characteristic,
                                    const std::optional<QString>& error)
{
    if (m_peripheral != peripheral || !uuidIs(characteristic, "ae22")) {
        return;
    }
    if (error) {
        finishStep(m_discoverWaiter,
                   BLEError::missingCharacteristic(QStringLiteral("AE22 订阅失败：") + *error));
        return;
    }
    ++m_notifyReady;
    finishStep(m_discoverWaiter, std::nullopt);
}

void BLEClient::onValue(const QString& peripheral, const QString& characteristic,
                        const QByteArray& value)
{
    if (m_peripheral != peripheral) {
        return;
    }
    const QString& source = uuidIs(characteristic, "ae23") ? kAE23 : kAE22;
    const QList<Proto::Frame> frames = m_parsers[source].feed(value);
    if (frames.isEmpty()) {
        return;
    }
    for (const Proto::Frame& f : frames) {
        m_pending.push_back({source, f});
    }
    wakeFrameWaiters();
}

// ---------------------------------------------------------------------------------------------
// Disconnecting

void BLEClient::disconnect()
{
    if (!m_peripheral) {
        return;
    }
    const QString id = *m_peripheral;
    m_disconnecting = id;
    m_peripheral.reset();
    m_writeChar.reset();
    // A connect still in progress on another task ends now rather than at its time-out.
    finishStep(m_connectWaiter, BLEError::connectFailed(QStringLiteral("连接已断开")));
    finishStep(m_discoverWaiter, BLEError::notConnected());
    wakeFrameWaiters();
    m_port.cancelConnection(id);
}

void BLEClient::handleDisconnect(const QString& peripheral, const std::optional<QString>& error)
{
    if (m_peripheral == peripheral) {
        m_peripheral.reset();
        m_writeChar.reset();
        m_disconnecting.reset();
        m_notifyReady = 0;
        resetParsers();
        auto settle = std::exchange(m_settleWaiters, {});
        const DisconnectFn handler = m_onDisconnect;
        // pending keeps its frames: a flow may still take what arrived before the drop.
        wakeFrameWaiters();
        finishStep(m_connectWaiter,
                   BLEError::connectFailed(error.value_or(QStringLiteral("连接已断开"))));
        finishStep(m_discoverWaiter, BLEError::notConnected());
        for (const auto& w : settle) {
            w.fire(true);
        }
        if (handler) {
            handler(error);
        }
    } else if (m_disconnecting == peripheral) {
        m_disconnecting.reset();
        for (const auto& w : std::exchange(m_settleWaiters, {})) {
            w.fire(true);
        }
    }
}

QCoro::Task<> BLEClient::waitDisconnectSettled(double timeout)
{
    if (!m_disconnecting) {
        co_return;
    }
    OnceResume<bool> settled;
    m_settleWaiters.push_back(settled);
    DeviceTimer timer(&m_ctx, timeout, [settled] { settled.fire(false); });
    co_await settled;
}

// ---------------------------------------------------------------------------------------------
// Frames

uint8_t BLEClient::nextSeq()
{
    return ++m_seq;
}

void BLEClient::send(uint8_t type, uint8_t cmd, QByteArrayView body)
{
    if (!m_peripheral || !m_writeChar) {
        throw BLEError::notConnected();
    }
    sendRaw(Proto::buildFrame(type, cmd, body, nextSeq()));
}

void BLEClient::sendRaw(const QByteArray& bytes)
{
    if (!m_peripheral || !m_writeChar) {
        throw BLEError::notConnected();
    }
    // The stack refuses writes longer than the link allows: split them.
    const int maxLen = m_port.maximumWriteLength(*m_peripheral);
    if (maxLen <= 0 || bytes.size() <= maxLen) {
        m_port.writeWithoutResponse(*m_peripheral, *m_writeChar, bytes);
        return;
    }
    for (qsizetype at = 0; at < bytes.size(); at += maxLen) {
        m_port.writeWithoutResponse(*m_peripheral, *m_writeChar, bytes.mid(at, maxLen));
    }
}

bool BLEClient::trySendRaw(const QByteArray& bytes)
{
    if (!m_peripheral || !m_writeChar) {
        return false;
    }
    sendRaw(bytes);
    return true;
}

void BLEClient::wakeFrameWaiters()
{
    for (const auto& w : std::exchange(m_frameWaiters, {})) {
        w.fire(true);
    }
}

QCoro::Task<std::optional<BLEClient::SourcedFrame>> BLEClient::nextFrame(double timeout)
{
    const auto deadline = DeviceTimer::now() + timeout;
    while (true) {
        if (!m_pending.empty()) {
            SourcedFrame f = std::move(m_pending.front());
            m_pending.pop_front();
            co_return f;
        }
        const double remaining = deadline - DeviceTimer::now();
        if (!m_peripheral || remaining <= 0) {
            co_return std::nullopt;
        }
        OnceResume<bool> woken;
        std::erase_if(m_frameWaiters, [](const OnceResume<bool>& w) { return w.fired(); });
        m_frameWaiters.push_back(woken);
        DeviceTimer timer(&m_ctx, remaining, [woken] { woken.fire(false); });
        co_await woken;
    }
}

QCoro::Task<std::optional<Proto::Frame>> BLEClient::expect(uint8_t type, uint8_t cmd,
                                                           double timeout)
{
    const auto deadline = DeviceTimer::now() + timeout;
    while (DeviceTimer::now() < deadline) {
        auto f = co_await nextFrame(deadline - DeviceTimer::now());
        if (!f) {
            co_return std::nullopt;
        }
        if (f->frame.is(type, cmd)) {
            co_return std::move(f->frame);
        }
    }
    co_return std::nullopt;
}

QString BLEClient::parserStats() const
{
    QStringList items;
    for (const FrameParser& p : m_parsers) {
        items.append(p.name() + QStringLiteral(": CRC错") + QString::number(p.crcErrors()) +
                     QStringLiteral(" 重同步") + QString::number(p.resyncs()));
    }
    items.sort();
    return items.join(QStringLiteral("  "));
}
