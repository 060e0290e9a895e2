// The virtual pen as a Bluetooth central sees it: scanning, the link, services and
// characteristics, notifications and writes.

#include "VirtualPen.h"
#include "device/Proto.h"

#include <algorithm>

namespace {

bool sameUuid(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Central port: scanning and link

void VirtualPen::later(int ms, std::function<void()> fn)
{
    QTimer::singleShot(ms, this, std::move(fn));
}

void VirtualPen::startScan()
{
    if (m_radioState != CentralPort::poweredOn) {
        return;
    }
    m_scanning = true;
    m_advTimer.start();
    if (m_otherCount > 0) {
        m_otherTimer.start();
    }
    later(0, [this] { advertiseTick(); }); // a pen in range is seen at once
}

void VirtualPen::stopScan()
{
    m_scanning = false;
    m_advTimer.stop();
    m_otherTimer.stop();
}

void VirtualPen::advertiseTick()
{
    if (!m_scanning || !m_advertising || m_linked || m_connecting ||
        m_radioState != CentralPort::poweredOn) {
        return;
    }
    Q_EMIT advertised(m_address, m_name,
                      m_advertisesService ? QStringList{Proto::serviceMain} : QStringList{},
                      m_rssi);
}

void VirtualPen::otherTick()
{
    if (!m_scanning) {
        return;
    }
    // Built once: the simulated neighbours must cost next to nothing, or a benchmark of the
    // listener would mostly measure them.
    while (m_others.size() < m_otherCount) {
        const int i = int(m_others.size());
        m_others.append({QStringLiteral("0A:00:00:00:%1:%2")
                             .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                             .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                             .toUpper(),
                         QStringLiteral("Other-%1").arg(i)});
    }
    for (int i = 0; i < m_otherCount && m_scanning; ++i) {
        Q_EMIT advertised(m_others[i].first, m_others[i].second, {}, -70);
    }
}

void VirtualPen::connectPeripheral(const QString& peripheral)
{
    if (peripheral.compare(m_address, Qt::CaseInsensitive) != 0) {
        later(0,
              [this, peripheral] { Q_EMIT connectFailed(peripheral, QStringLiteral("未知设备")); });
        return;
    }
    if (m_linked || m_connecting) {
        return;
    }
    m_connecting = true;
    if (m_faults.ignoreConnect) {
        return; // asleep: the attempt hangs until cancelled
    }
    const int gen = ++m_linkGeneration;
    later(m_faults.connectDelayMs, [this, gen] {
        if (gen != m_linkGeneration || !m_connecting) {
            return;
        }
        m_connecting = false;
        m_linked = true;
        ++m_connections;
        m_subscribed.clear();
        m_requestParser = FrameParser(QStringLiteral("AE21"));
        m_transfer.reset();
        m_outgoing.clear();
        m_contentSentLink = 0;
        m_stalledThisLink = false;
        m_dropPending = false;
        Q_EMIT connected(m_address);
    });
}

void VirtualPen::forgetLink()
{
    ++m_linkGeneration;
    m_linked = false;
    m_connecting = false;
    m_transfer.reset();
    m_outgoing.clear();
    m_subscribed.clear();
    m_pumpTimer.stop();
}

void VirtualPen::cancelConnection(const QString& peripheral)
{
    if (peripheral.compare(m_address, Qt::CaseInsensitive) != 0 || (!m_linked && !m_connecting)) {
        return;
    }
    forgetLink();
    later(m_faults.disconnectConfirmMs, [this] { Q_EMIT disconnected(m_address, std::nullopt); });
}

void VirtualPen::endLink(const std::optional<QString>& error)
{
    forgetLink();
    m_dropPending = false;
    later(0, [this, error] { Q_EMIT disconnected(m_address, error); });
}

void VirtualPen::discoverServices(const QString& peripheral, const QStringList& /*services*/)
{
    if (!m_linked || peripheral != m_address || m_faults.ignoreDiscovery) {
        return;
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen] {
        if (gen == m_linkGeneration) {
            Q_EMIT servicesDiscovered(m_address, {Proto::serviceMain}, std::nullopt);
        }
    });
}

void VirtualPen::discoverCharacteristics(const QString& peripheral, const QString& service)
{
    if (!m_linked || peripheral != m_address) {
        return;
    }
    QStringList chars;
    for (const QString& c : {Proto::charWrite, Proto::charNotify, Proto::charKey}) {
        const bool missing = std::any_of(
            m_faults.missingCharacteristics.begin(), m_faults.missingCharacteristics.end(),
            [&](const QString& m) { return c.contains(m, Qt::CaseInsensitive); });
        if (!missing) {
            chars.append(c);
        }
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen, service, chars] {
        if (gen == m_linkGeneration) {
            Q_EMIT characteristicsDiscovered(m_address, service, chars, std::nullopt);
        }
    });
}

void VirtualPen::setNotify(const QString& peripheral, const QString& characteristic, bool enabled)
{
    if (!m_linked || peripheral != m_address) {
        return;
    }
    std::optional<QString> error;
    if (sameUuid(characteristic, Proto::charNotify) && m_faults.subscribeError) {
        error = m_faults.subscribeError;
    } else if (enabled) {
        if (!m_subscribed.contains(characteristic.toLower())) {
            m_subscribed.append(characteristic.toLower());
        }
    } else {
        m_subscribed.removeAll(characteristic.toLower());
    }
    const int gen = m_linkGeneration;
    later(0, [this, gen, characteristic, error] {
        if (gen == m_linkGeneration) {
            Q_EMIT notificationStateUpdated(m_address, characteristic, error);
        }
    });
}

int VirtualPen::maximumWriteLength(const QString& /*peripheral*/) const
{
    return m_mtu - 3;
}

QString VirtualPen::peripheralName(const QString& peripheral) const
{
    return peripheral.compare(m_address, Qt::CaseInsensitive) == 0 ? m_name : QString();
}

void VirtualPen::writeWithoutResponse(const QString& peripheral, const QString& characteristic,
                                      const QByteArray& value)
{
    if (!m_linked || peripheral != m_address || !sameUuid(characteristic, Proto::charWrite)) {
        return;
    }
    if (value.size() > maximumWriteLength(peripheral)) {
        ++m_oversizeWrites; // a real stack refuses the write: it never reaches the pen
        return;
    }
    for (const Proto::Frame& f : m_requestParser.feed(value)) {
        handleRequest(f);
    }
}
