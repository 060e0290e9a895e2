#include "BluezAdapter.h"

#include <QDBusVariant>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kDevice = u"org.bluez.Device1"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;

} // namespace

BluezAdapter::BluezAdapter(BluezObjectTree& tree, QObject* parent) : QObject(parent), m_tree(tree)
{
    m_powerOn.setSingleShot(true);
    connect(&m_powerOn, &QTimer::timeout, this, [this] { setPowered(true); });
}

// bluetoothd registers an adapter as the kernel reports it (src/adapter.c, adapter_register
// from read_info_complete), unpowered, and powers it on afterwards (AutoEnable or the stored
// setting, via set_mode): clients see it off for about half a second.
void BluezAdapter::plugIn(bool powerOn, int delayMs)
{
    if (present())
        return;
    m_tree.add(path, {{iface,
                       {{u"Address"_s, u"00:AA:BB:CC:DD:EE"_s},
                        {u"AddressType"_s, u"public"_s},
                        {u"Name"_s, u"virtual-pen-bluez"_s},
                        {u"Alias"_s, u"virtual-pen-bluez"_s},
                        {u"Class"_s, QVariant::fromValue(quint32(0))},
                        {u"Powered"_s, false},
                        {u"Discoverable"_s, false},
                        {u"Pairable"_s, true},
                        {u"Discovering"_s, false},
                        {u"UUIDs"_s, QStringList()},
                        {u"Modalias"_s, u"usb:v1D6Bp0246d0537"_s},
                        {u"DiscoverableTimeout"_s, QVariant::fromValue(quint32(0))},
                        {u"PairableTimeout"_s, QVariant::fromValue(quint32(0))}}}});
    if (powerOn)
        m_powerOn.start(delayMs);
}

void BluezAdapter::unplug()
{
    m_powerOn.stop();
    Q_EMIT goingDown(u"适配器拔掉了"_s);
    setDiscovering(false);
    m_tree.remove(path);
}

bool BluezAdapter::powered() const
{
    return m_tree.property(path, iface, u"Powered"_s).toBool();
}

bool BluezAdapter::discovering() const
{
    return m_tree.property(path, iface, u"Discovering"_s).toBool();
}

void BluezAdapter::setPowered(bool on)
{
    if (!present() || (on && m_blocked))
        return;
    if (!on) {
        m_powerOn.stop();
        Q_EMIT goingDown(u"适配器关掉了"_s);
        setDiscovering(false);
    }
    if (powered() != on)
        m_tree.setProperty(path, iface, u"Powered"_s, on);
}

void BluezAdapter::setBlocked(bool blocked)
{
    if (blocked == m_blocked)
        return;
    if (blocked) {
        m_poweredBeforeBlock = powered() || m_powerOn.isActive();
        setPowered(false);
        m_blocked = true;
    } else {
        m_blocked = false;
        if (m_poweredBeforeBlock)
            setPowered(true);
    }
}

// src/main.c: when the main loop ends, adapter_shutdown powers every adapter off and
// adapter_cleanup unregisters them; only then does the connection (and the name) go.
void BluezAdapter::shutdown(std::function<void()> done)
{
    setPowered(false);
    QTimer::singleShot(50, this, [this, done] {
        if (present())
            m_tree.remove(path);
        QTimer::singleShot(50, this, done);
    });
}

// src/adapter.c, discovery_cleanup: when discovery ends every device found loses its RSSI
// (invalidate_rssi_and_tx_power); a known device that is not advertising has none.
void BluezAdapter::setDiscovering(bool on)
{
    if (!present() || discovering() == on)
        return;
    m_tree.setProperty(path, iface, u"Discovering"_s, on);
    if (!on) {
        for (const QString& device : m_tree.objectsWith(kDevice))
            m_tree.removeProperty(device, kDevice, u"RSSI"_s);
    }
    Q_EMIT discoveringChanged(on);
}

bool BluezAdapter::handle(const QDBusMessage& call)
{
    if (call.path() != path || !present())
        return false;
    const QString member = call.member();
    const QList<QVariant> args = call.arguments();
    if (call.interface() == kProperties) {
        if (member != u"Set"_s || args.value(0).toString() != iface ||
            args.value(1).toString() != u"Powered"_s)
            return false;
        const bool on = args.value(2).value<QDBusVariant>().variant().toBool();
        // src/adapter.c, set_mode_complete: the kernel refuses under rfkill, and the setter
        // answers org.bluez.Error.Blocked; "bluetoothctl power on" cannot help.
        if (on && m_blocked) {
            fail(call, u"org.bluez.Error.Blocked"_s, u"Blocked through rfkill"_s);
            return true;
        }
        setPowered(on);
        answer(call);
        return true;
    }
    if (call.interface() != iface)
        return false;
    if (member == u"StartDiscovery"_s) {
        if (!powered()) {
            fail(call, u"org.bluez.Error.NotReady"_s, u"Resource Not Ready"_s);
            return true;
        }
        // src/adapter.c, start_discovery_complete: when the kernel refuses to start (a busy
        // controller), the caller gets btd_error_busy and Discovering stays false.
        if (m_refuseDiscovery > 0) {
            --m_refuseDiscovery;
            fail(call, u"org.bluez.Error.InProgress"_s, u"Operation already in progress"_s);
            return true;
        }
        setDiscovering(true);
    } else if (member == u"StopDiscovery"_s) {
        setDiscovering(false);
    } else if (member == u"GetDiscoveryFilters"_s) {
        m_tree.bus().send(call.createReply(
            QStringList{u"UUIDs"_s, u"RSSI"_s, u"Transport"_s, u"DuplicateData"_s}));
        return true;
    } else if (member != u"SetDiscoveryFilter"_s && member != u"RemoveDevice"_s) {
        // RemoveDevice is ignored: the pen stays known, as a bonded device would.
        return false;
    }
    answer(call);
    return true;
}

void BluezAdapter::answer(const QDBusMessage& call)
{
    m_tree.bus().send(call.createReply());
}

void BluezAdapter::fail(const QDBusMessage& call, const QString& name, const QString& text)
{
    m_tree.bus().send(call.createErrorReply(name, text));
}
