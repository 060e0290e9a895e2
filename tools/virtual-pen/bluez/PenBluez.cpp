#include "PenBluez.h"

#include "VirtualPen.h"
#include "device/Proto.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QTimer>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString& kAdapterPath = BluezAdapter::path;
const QString kDevice = u"org.bluez.Device1"_s;
const QString kService = u"org.bluez.GattService1"_s;
const QString kChar = u"org.bluez.GattCharacteristic1"_s;
const QString kDesc = u"org.bluez.GattDescriptor1"_s;
const QString kControl = u"com.kestrel.MockPen"_s;
const QString kFailed = u"org.bluez.Error.Failed"_s;
const QString kNotReady = u"org.bluez.Error.NotReady"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;
const QString kCccd = u"00002902-0000-1000-8000-00805f9b34fb"_s;

QVariant path(const QString& p)
{
    return QVariant::fromValue(QDBusObjectPath(p));
}

QString hex4(int n)
{
    return QString::number(n, 16).rightJustified(4, u'0');
}

} // namespace

PenBluez::PenBluez(VirtualPen& pen, BluezObjectTree& tree, Options options)
    : m_pen(pen), m_tree(tree), m_options(options), m_address(pen.address().toUpper()),
      m_devicePath(kAdapterPath + u"/dev_"_s + QString(m_address).replace(u':', u'_')),
      m_adapter(tree), m_room(tree, kAdapterPath, options.room)
{
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, [this] { m_pen.cancelConnection(m_address); });
    connect(&m_adapter, &BluezAdapter::goingDown, this, &PenBluez::endLink);
    connect(&m_adapter, &BluezAdapter::discoveringChanged, this, [this](bool on) {
        if (on)
            m_discovering.start();
        m_room.setListening(on);
    });
    connect(&pen, &CentralPort::advertised, this, &PenBluez::onAdvertised);
    connect(&pen, &CentralPort::connected, this, &PenBluez::onConnected);
    connect(&pen, &CentralPort::connectFailed, this, &PenBluez::onConnectFailed);
    connect(&pen, &CentralPort::disconnected, this, &PenBluez::onDisconnected);
    connect(&pen, &CentralPort::servicesDiscovered, this, &PenBluez::onServices);
    connect(&pen, &CentralPort::characteristicsDiscovered, this, &PenBluez::onCharacteristics);
    connect(&pen, &CentralPort::notificationStateUpdated, this, &PenBluez::onNotifyState);
    connect(&pen, &CentralPort::valueUpdated, this, &PenBluez::onValue);
    if (m_options.adapter) {
        m_adapter.plugIn(m_options.powered, m_options.powerOnDelayMs);
        // A bonded pen is in the tree whether it is on or not, without RSSI until heard.
        if (m_options.known)
            addDevice(m_pen.name(), {}, std::nullopt, true);
    }
    // A pen advertises whether anyone listens; the adapter hears it only while discovering.
    m_pen.startScan();
}

bool PenBluez::handle(const QDBusMessage& call)
{
    const QString iface = call.interface();
    if (iface == kControl)
        return handleControl(call);
    if (m_adapter.handle(call))
        return true;
    if (iface == kProperties)
        return false;
    if (iface == kDevice && call.path() == m_devicePath && m_tree.contains(m_devicePath))
        return handleDevice(call);
    if ((iface == kChar || iface == kDesc) && m_tree.contains(call.path()))
        return handleGatt(call);
    return false;
}

// --- device ---

void PenBluez::onAdvertised(const QString& peripheral, const std::optional<QString>& name,
                            const QStringList& services, int rssi)
{
    if (peripheral.toUpper() != m_address)
        return;
    m_lastAdvertisement = Advertisement{name.value_or(m_address), services, rssi, {}};
    m_lastAdvertisement->heard.start();
    // The controller reports advertisements only some time after discovery was asked for:
    // a device new to BlueZ appears in the tree after the client has read it.
    if (m_adapter.powered() && m_adapter.discovering() &&
        m_discovering.elapsed() >= m_options.discoveryWarmupMs)
        hear(*m_lastAdvertisement);
}

void PenBluez::hear(const Advertisement& ad)
{
    // Qt reports a sighting again only when something changed: the RSSI wobbles by one.
    m_rssiFlip = !m_rssiFlip;
    const QVariant rssiValue = QVariant::fromValue(qint16(ad.rssi - (m_rssiFlip ? 1 : 0)));
    if (m_tree.contains(m_devicePath)) {
        m_tree.setProperty(m_devicePath, kDevice, u"RSSI"_s, rssiValue);
        return;
    }
    addDevice(ad.name, ad.services, int(rssiValue.value<qint16>()), false);
}

void PenBluez::addDevice(const QString& name, const QStringList& services, std::optional<int> rssi,
                         bool paired)
{
    BluezObjectTree::Properties device{{u"Address"_s, m_address},
                                       {u"AddressType"_s, u"public"_s},
                                       {u"Name"_s, name},
                                       {u"Alias"_s, name},
                                       {u"Adapter"_s, path(kAdapterPath)},
                                       {u"UUIDs"_s, services},
                                       {u"Connected"_s, false},
                                       {u"ServicesResolved"_s, false},
                                       {u"Paired"_s, paired},
                                       {u"Trusted"_s, paired},
                                       {u"Blocked"_s, false},
                                       {u"LegacyPairing"_s, false}};
    if (rssi)
        device.insert(u"RSSI"_s, QVariant::fromValue(qint16(*rssi)));
    m_tree.add(m_devicePath, {{kDevice, device}});
}

bool PenBluez::handleDevice(const QDBusMessage& call)
{
    const bool connected = m_tree.property(m_devicePath, kDevice, u"Connected"_s).toBool();
    if (call.member() == u"Connect"_s) {
        ++m_connectCalls;
        if (!m_adapter.powered()) {
            refuse(call, u"Resource Not Ready"_s);
        } else if (connected) {
            answer(call); // also while a Disconnect lingers: the link is still up
        } else if (m_connectCall) {
            m_tree.bus().send(
                call.createErrorReply(u"org.bluez.Error.InProgress"_s, u"In Progress"_s));
        } else {
            m_connectCall = call;
            m_pen.connectPeripheral(m_address);
        }
        return true;
    }
    if (call.member() == u"Disconnect"_s) {
        if (!connected && !m_connectCall) {
            answer(call);
        } else if (connected) {
            // src/device.c, device_request_disconnect: the link stays up for the disconnect
            // timer (about 2 s), and the call is answered only when it is really down.
            m_disconnectCall = call;
            if (!m_linger.isActive())
                m_linger.start(m_options.disconnectLingerMs);
        } else {
            m_disconnectCall = call; // a pending Connect is cancelled at once
            m_pen.cancelConnection(m_address);
        }
        return true;
    }
    return false;
}

void PenBluez::onConnected(const QString&)
{
    m_tree.setProperty(m_devicePath, kDevice, u"Connected"_s, true);
    m_pen.discoverServices(m_address, {});
}

void PenBluez::onConnectFailed(const QString&, const std::optional<QString>& error)
{
    if (m_connectCall)
        m_tree.bus().send(std::exchange(m_connectCall, std::nullopt)
                              ->createErrorReply(kFailed, error.value_or(u"未知"_s)));
}

void PenBluez::onServices(const QString&, const QStringList& services,
                          const std::optional<QString>& error)
{
    if (error || services.isEmpty()) {
        endLink(error.value_or(u"没有服务"_s));
        return;
    }
    m_servicesPending = services;
    for (const QString& s : services)
        m_pen.discoverCharacteristics(m_address, s);
}

void PenBluez::onCharacteristics(const QString&, const QString& service,
                                 const QStringList& characteristics,
                                 const std::optional<QString>& error)
{
    if (error) {
        endLink(*error);
        return;
    }
    exportGatt(service, characteristics);
    m_servicesPending.removeAll(service);
    if (!m_servicesPending.isEmpty())
        return;
    // BlueZ resolves every service before it says so, and clients treat that as "connected".
    m_tree.setProperty(m_devicePath, kDevice, u"ServicesResolved"_s, true);
    if (m_connectCall)
        answer(*std::exchange(m_connectCall, std::nullopt));
}

void PenBluez::exportGatt(const QString& service, const QStringList& characteristics)
{
    const QString servicePath = m_devicePath + u"/service"_s + hex4(m_nextHandle++);
    m_servicePaths.append(servicePath);
    m_tree.add(servicePath, {{kService,
                              {{u"UUID"_s, service.toLower()},
                               {u"Primary"_s, true},
                               {u"Device"_s, path(m_devicePath)},
                               {u"Includes"_s, QVariant::fromValue(QList<QDBusObjectPath>())}}}});
    const int mtu = m_pen.maximumWriteLength(m_address) + 3;
    for (const QString& uuid : characteristics) {
        const QString charPath = servicePath + u"/char"_s + hex4(m_nextHandle++);
        const bool writes = uuid.compare(Proto::charWrite, Qt::CaseInsensitive) == 0;
        const QStringList flags =
            writes ? QStringList{u"write-without-response"_s} : QStringList{u"notify"_s};
        m_tree.add(charPath, {{kChar,
                               {{u"UUID"_s, uuid.toLower()},
                                {u"Service"_s, path(servicePath)},
                                {u"Flags"_s, flags},
                                {u"Value"_s, QByteArray()},
                                {u"Notifying"_s, false},
                                {u"MTU"_s, QVariant::fromValue(quint16(mtu))}}}});
        m_charPath.insert(uuid.toLower(), charPath);
        m_charUuid.insert(charPath, uuid);
        // Qt listens to notifications only where a configuration descriptor exists.
        if (!writes) {
            m_tree.add(charPath + u"/desc"_s + hex4(m_nextHandle++),
                       {{kDesc,
                         {{u"UUID"_s, kCccd},
                          {u"Characteristic"_s, path(charPath)},
                          {u"Value"_s, QByteArray()}}}});
        }
    }
}

// --- GATT ---

bool PenBluez::handleGatt(const QDBusMessage& call)
{
    const QString member = call.member();
    const QString uuid = m_charUuid.value(call.path());
    if (member == u"ReadValue"_s) {
        m_tree.bus().send(
            call.createReply(m_tree.property(call.path(), call.interface(), u"Value"_s)));
        return true;
    }
    if (uuid.isEmpty())
        return false;
    if (member == u"WriteValue"_s) {
        m_pen.writeWithoutResponse(m_address, uuid, call.arguments().value(0).toByteArray());
        answer(call);
    } else if (member == u"StartNotify"_s || member == u"AcquireNotify"_s) {
        m_notifyCalls.insert(uuid.toLower(), call);
        m_pen.setNotify(m_address, uuid, true);
    } else if (member == u"StopNotify"_s) {
        m_pen.setNotify(m_address, uuid, false);
        m_tree.setProperty(call.path(), kChar, u"Notifying"_s, false);
        answer(call);
    } else {
        return false;
    }
    return true;
}

void PenBluez::onNotifyState(const QString&, const QString& characteristic,
                             const std::optional<QString>& error)
{
    const auto call = m_notifyCalls.find(characteristic.toLower());
    if (call == m_notifyCalls.end())
        return;
    const QDBusMessage pending = *call;
    m_notifyCalls.erase(call);
    if (error) {
        m_tree.bus().send(pending.createErrorReply(kFailed, *error));
        return;
    }
    m_tree.setProperty(pending.path(), kChar, u"Notifying"_s, true);
    if (pending.member() != u"AcquireNotify"_s) {
        answer(pending);
        return;
    }
    // src/gatt-client.c, characteristic_acquire_notify: a socket pair; the client gets one end
    // and the MTU, and every notification is written to the other end as one packet.
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        m_tree.bus().send(pending.createErrorReply(kFailed, u"socketpair"_s));
        return;
    }
    m_notifySockets.insert(characteristic.toLower(), fds[0]);
    m_tree.setProperty(pending.path(), kChar, u"NotifyAcquired"_s, true);
    m_tree.bus().send(pending.createReply(
        {QVariant::fromValue(QDBusUnixFileDescriptor(fds[1])),
         QVariant::fromValue(quint16(m_pen.maximumWriteLength(m_address) + 3))}));
    ::close(fds[1]); // the reply holds its own copy
}

void PenBluez::onValue(const QString&, const QString& characteristic, const QByteArray& value)
{
    if (m_crashing)
        return; // nothing more goes out
    const QString charPath = m_charPath.value(characteristic.toLower());
    if (const int fd = m_notifySockets.value(characteristic.toLower(), -1); fd >= 0) {
        // A client that closed its end has given the notifications up.
        // A full socket holds the pen back a while (the client reads on its event loop) rather
        // than block this loop for good.
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, 2000) == 1 &&
            ::send(fd, value.constData(), size_t(value.size()), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN)
            ::close(m_notifySockets.take(characteristic.toLower()));
    } else if (!charPath.isEmpty()) {
        m_tree.setProperty(charPath, kChar, u"Value"_s, value);
    }
    if (m_options.exitAfterBytes && m_pen.contentBytesSent() >= *m_options.exitAfterBytes) {
        // A crash, not a shutdown. The values already queued on the bus leave first, so the
        // client has really received the bytes counted here before the service vanishes.
        m_crashing = true;
        QTimer::singleShot(std::chrono::milliseconds(300), [] { ::_exit(3); });
    }
}

// --- link end ---

void PenBluez::endLink(const QString& error)
{
    if (m_pen.isLinked()) {
        m_pen.dropLink(error); // confirmed by the pen's disconnected signal
        return;
    }
    m_pen.cancelConnection(m_address); // an attempt under way
    onDisconnected(m_address, error);
}

void PenBluez::onDisconnected(const QString&, const std::optional<QString>& error)
{
    m_linger.stop();
    if (m_tree.property(m_devicePath, kDevice, u"Connected"_s).toBool()) {
        m_tree.setProperty(m_devicePath, kDevice, u"ServicesResolved"_s, false);
        m_tree.setProperty(m_devicePath, kDevice, u"Connected"_s, false);
    }
    for (const QString& servicePath : std::as_const(m_servicePaths))
        m_tree.remove(servicePath); // with its characteristics and descriptors
    m_servicePaths.clear();
    for (const int fd : std::as_const(m_notifySockets))
        ::close(fd);
    m_notifySockets.clear();
    m_charPath.clear();
    m_charUuid.clear();
    m_servicesPending.clear();
    const QString text = error.value_or(u"连接已断开"_s);
    if (m_connectCall)
        m_tree.bus().send(
            std::exchange(m_connectCall, std::nullopt)->createErrorReply(kFailed, text));
    for (const QDBusMessage& call : std::as_const(m_notifyCalls))
        m_tree.bus().send(call.createErrorReply(kFailed, text));
    m_notifyCalls.clear();
    if (m_disconnectCall)
        answer(*std::exchange(m_disconnectCall, std::nullopt));
}

// --- control ---

bool PenBluez::handleControl(const QDBusMessage& call)
{
    const QString member = call.member();
    const QVariant arg = call.arguments().value(0);
    auto reply = [&](const QVariant& value) {
        m_tree.bus().send(call.createReply(value));
        return true;
    };
    if (member == u"SetPowered"_s) {
        m_adapter.setPowered(arg.toBool());
    } else if (member == u"SetBlocked"_s) {
        m_adapter.setBlocked(arg.toBool());
    } else if (member == u"RemoveAdapter"_s) {
        m_adapter.unplug();
    } else if (member == u"AddAdapter"_s) {
        m_adapter.plugIn(true, m_options.powerOnDelayMs);
    } else if (member == u"RefuseDiscovery"_s) {
        m_adapter.refuseDiscovery(arg.toInt());
    } else if (member == u"AnswerConnects"_s) {
        m_pen.faults().ignoreConnect = false;
    } else if (member == u"Drop"_s) {
        endLink(u"连接意外中断"_s);
    } else if (member == u"SetPenOn"_s) {
        m_pen.setAdvertising(arg.toBool());
    } else if (member == u"Shutdown"_s) {
        answer(call);
        shutdown();
        return true;
    } else if (member == u"ContentBytesSent"_s) {
        return reply(QVariant::fromValue(m_pen.contentBytesSent()));
    } else if (member == u"ConnectCalls"_s) {
        return reply(m_connectCalls);
    } else if (member == u"TreeReads"_s) {
        return reply(m_tree.treeReads());
    } else if (member == u"NeighboursSeen"_s) {
        return reply(m_room.appeared());
    } else if (member == u"Connected"_s) {
        return reply(m_tree.property(m_devicePath, kDevice, u"Connected"_s).toBool());
    } else {
        return false;
    }
    answer(call);
    return true;
}

// As bluetoothd stops (SIGTERM): adapters off and gone, then the name leaves the bus.
void PenBluez::shutdown()
{
    m_adapter.shutdown([this] {
        m_tree.bus().unregisterService(u"org.bluez"_s);
        QTimer::singleShot(50, qApp, [] { QCoreApplication::exit(0); });
    });
}

void PenBluez::answer(const QDBusMessage& call)
{
    m_tree.bus().send(call.createReply());
}

void PenBluez::refuse(const QDBusMessage& call, const QString& text)
{
    m_tree.bus().send(call.createErrorReply(kNotReady, text));
}
