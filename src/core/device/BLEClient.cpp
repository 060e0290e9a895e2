#include "device/BLEClient.h"

#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/DeviceTimer.h"
#include "device/UuidMatch.h"

#include <algorithm>

BLEClient::BLEClient(CentralPort& port, Timing timing)
    : m_port(port), m_timing(timing), m_scanner(port, timing.scanPowerOn, timing.scanRetry),
      m_inbox([this] { return m_peripheral.has_value(); })
{
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

BLEClient::~BLEClient() = default;

bool BLEClient::isConnected() const
{
    return m_peripheral.has_value();
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
        m_inbox.wake();
    }
    m_port.cancelConnection(peripheral);
}

QCoro::Task<> BLEClient::connect(Discovered target)
{
    // Connecting into a link that is still closing takes the stack's "already connected"
    // shortcut onto a link about to drop.
    // This attempt fails instead; the next one, a cool-down later, no longer waits for a
    // confirmation that did not come.
    if (!co_await waitDisconnectSettled(m_timing.settle)) {
        m_disconnecting.reset();
        throw BLEError::connectFailed(QStringLiteral("上一次的连接还没断开"));
    }

    const QString id = target.peripheral;
    m_peripheral = id;
    m_writeChar.reset();
    m_notifyReady = 0;
    m_inbox.clearPending();
    m_inbox.resetParsers();
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
    m_inbox.wake();
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
                           [](const QString& s) { return UuidMatch::is(s, "ae20"); });
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
        if (UuidMatch::is(c, "ae21")) {
            m_writeChar = c;
        } else if (UuidMatch::is(c, "ae22") || UuidMatch::is(c, "ae23")) {
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
    if (m_peripheral != peripheral || !UuidMatch::is(characteristic, "ae22")) {
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
    m_inbox.feed(characteristic, value);
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
    m_inbox.wake();
    m_port.cancelConnection(id);
}

void BLEClient::handleDisconnect(const QString& peripheral, const std::optional<QString>& error)
{
    if (m_peripheral == peripheral) {
        m_peripheral.reset();
        m_writeChar.reset();
        m_disconnecting.reset();
        m_notifyReady = 0;
        m_inbox.resetParsers();
        auto settle = std::exchange(m_settleWaiters, {});
        const DisconnectFn handler = m_onDisconnect;
        // pending keeps its frames: a flow may still take what arrived before the drop.
        m_inbox.wake();
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

QCoro::Task<bool> BLEClient::waitDisconnectSettled(double timeout)
{
    if (!m_disconnecting) {
        co_return true;
    }
    OnceResume<bool> settled;
    m_settleWaiters.push_back(settled);
    DeviceTimer timer(&m_ctx, timeout, [settled] { settled.fire(false); });
    const bool done = co_await settled;
    co_return done || !m_disconnecting;
}

QCoro::Task<> BLEClient::close(double timeout)
{
    disconnect();
    co_await waitDisconnectSettled(timeout);
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
