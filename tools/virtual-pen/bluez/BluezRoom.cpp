#include "BluezRoom.h"

#include <QDBusObjectPath>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kDevice = u"org.bluez.Device1"_s;
constexpr int kTickMs = 100;

} // namespace

BluezRoom::BluezRoom(BluezObjectTree& tree, QString adapterPath, Options options, QObject* parent)
    : QObject(parent), m_tree(tree), m_adapterPath(std::move(adapterPath)), m_options(options)
{
    m_clock.start();
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &BluezRoom::tick);
}

void BluezRoom::setListening(bool on)
{
    m_listening = on;
    if (m_options.count > 0 && (on || !m_present.empty()))
        m_timer.start();
}

// A new neighbour each time one expires, so `count` are always around while discovery runs.
// Expiry stands for BlueZ's temporary-device time-out (src/device.c, device_set_temporary and
// its timer; main.conf TemporaryTimeout), shortened to keep a trial brief.
void BluezRoom::tick()
{
    const qint64 now = m_clock.elapsed();
    while (!m_present.empty() && now - m_present.front().bornMs >= m_options.lifetimeMs) {
        m_tree.remove(m_present.front().path);
        m_present.pop_front();
    }
    if (!m_listening) {
        if (m_present.empty())
            m_timer.stop();
        return;
    }
    while (int(m_present.size()) < m_options.count)
        appear();
    // Each neighbour advertises every advertiseMs: spread those RSSI changes over the ticks.
    const int perTick = std::max(1, m_options.count * kTickMs / std::max(1, m_options.advertiseMs));
    for (int i = 0; i < perTick && !m_present.empty(); ++i) {
        const Neighbour& n = m_present[size_t(m_rssiTurn++ % int(m_present.size()))];
        m_tree.setProperty(n.path, kDevice, u"RSSI"_s,
                           QVariant::fromValue(qint16(-70 - (m_rssiTurn % 20))));
    }
}

void BluezRoom::appear()
{
    const int n = m_serial++;
    const QString address = u"5A:00:00:%1:%2:%3"_s.arg((n >> 16) & 0xFF, 2, 16, QChar(u'0'))
                                .arg((n >> 8) & 0xFF, 2, 16, QChar(u'0'))
                                .arg(n & 0xFF, 2, 16, QChar(u'0'))
                                .toUpper();
    const QString path = m_adapterPath + u"/dev_"_s + QString(address).replace(u':', u'_');
    const QString name = u"Other-"_s + QString::number(n);
    m_tree.add(path, {{kDevice,
                       {{u"Address"_s, address},
                        {u"AddressType"_s, u"random"_s},
                        {u"Name"_s, name},
                        {u"Alias"_s, name},
                        {u"Adapter"_s, QVariant::fromValue(QDBusObjectPath(m_adapterPath))},
                        {u"RSSI"_s, QVariant::fromValue(qint16(-70))},
                        {u"UUIDs"_s, QStringList()},
                        {u"Connected"_s, false},
                        {u"ServicesResolved"_s, false},
                        {u"Paired"_s, false},
                        {u"Trusted"_s, false},
                        {u"Blocked"_s, false},
                        {u"LegacyPairing"_s, false}}}});
    m_present.push_back({path, m_clock.elapsed()});
}
