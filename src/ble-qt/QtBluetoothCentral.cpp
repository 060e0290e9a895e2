#include "QtBluetoothCentral.h"

#include "NotifySocket.h"
#include "device/RadioState.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothUuid>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <QRegularExpression>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kBluez = QStringLiteral("org.bluez");
// How long BlueZ may take to start a discovery it accepted (it answers within milliseconds).
constexpr int kDiscoveryCheckMs = 3000;

QString uuidString(const QBluetoothUuid& uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toLower();
}

// Runs fn on the event loop after the current call returns: the port never emits from inside
// one of its operations.
template <typename Fn> void post(QObject* context, Fn&& fn)
{
    QTimer::singleShot(0, context, std::forward<Fn>(fn));
}

QStringList childNodes(const QString& path)
{
    QDBusInterface intro(kBluez, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                         QDBusConnection::systemBus());
    const QDBusReply<QString> xml = intro.call(QStringLiteral("Introspect"));
    QStringList out;
    if (!xml.isValid()) {
        return out;
    }
    static const QRegularExpression node(QStringLiteral("<node name=\"([^\"]+)\""));
    for (auto it = node.globalMatch(xml.value()); it.hasNext();) {
        out.append(it.next().captured(1));
    }
    return out;
}

QVariant bluezProperty(const QString& path, const QString& iface, const QString& name)
{
    QDBusInterface props(kBluez, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                         QDBusConnection::systemBus());
    const QDBusReply<QVariant> reply = props.call(QStringLiteral("Get"), iface, name);
    return reply.isValid() ? reply.value() : QVariant();
}

} // namespace

QtBluetoothCentral::QtBluetoothCentral(QObject* parent)
    : CentralPort(parent), m_radio(QDBusConnection::systemBus())
{
    connect(&m_radio, &BluezRadio::stateChanged, this, &QtBluetoothCentral::onRadioState);
    m_discoveryCheck.setSingleShot(true);
    m_discoveryCheck.setInterval(kDiscoveryCheckMs);
    connect(&m_discoveryCheck, &QTimer::timeout, this, &QtBluetoothCentral::checkDiscovery);
    // When discovery ends under a running agent, Qt asks BlueZ again, and again ignores a
    // refusal.
    connect(&m_radio, &BluezRadio::discoveringChanged, this, [this](bool on) {
        if (!on && m_agent && m_agent->isActive())
            m_discoveryCheck.start();
    });
}

QtBluetoothCentral::~QtBluetoothCentral() = default;

int QtBluetoothCentral::state() const
{
    return m_radio.state();
}

QString QtBluetoothCentral::adapterDescription() const
{
    if (m_radio.adapterName().isEmpty())
        return {};
    return m_radio.adapterName() + u"（"_s + m_radio.adapterAddress() + u"）"_s;
}

void QtBluetoothCentral::onRadioState(int state)
{
    if (state != CentralPort::poweredOn) {
        // Qt's controller does not notice bluetoothd or the adapter going away; the link is
        // gone all the same.
        if (m_link)
            endLink(state == RadioState::poweredOff    ? u"蓝牙适配器被关掉了"_s
                    : state == RadioState::unsupported ? u"蓝牙适配器不见了"_s
                                                       : u"蓝牙服务已退出"_s);
        m_discoveryCheck.stop();
        // The agent is bound to the adapter it started on; a fresh one follows the next.
        if (m_agent) {
            m_agent->disconnect(this);
            // Qt counts discovery interest per adapter path process-wide; only stop() gives
            // ours back, and a stale count would keep the next agent from starting discovery.
            m_agent->stop();
            m_agent->deleteLater();
            m_agent = nullptr;
        }
    }
    Q_EMIT stateUpdated(state);
}

// ---------------------------------------------------------------------------------------------
// Scanning

void QtBluetoothCentral::startScan()
{
    if (!m_agent) {
        m_agent = new QBluetoothDeviceDiscoveryAgent(this);
        // 0 = until stopped; with it every RSSI change is reported again.
        m_agent->setLowEnergyDiscoveryTimeout(0);
        connect(m_agent, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
                &QtBluetoothCentral::report);
        connect(m_agent, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
                [this](const QBluetoothDeviceInfo& info, QBluetoothDeviceInfo::Fields) {
                    report(info);
                });
        // Qt raises some of these from inside start(): announced from the loop.
        connect(m_agent, &QBluetoothDeviceDiscoveryAgent::errorOccurred, this,
                [this](QBluetoothDeviceDiscoveryAgent::Error error) {
                    post(this, [this, error] { onScanError(int(error)); });
                });
    }
    if (!m_agent->isActive()) {
        // Qt reports every device already in BlueZ's tree from inside start(): bonded pens and
        // ones seen in the last half minute, switched off or not. None of that is a sighting.
        m_startingScan = true;
        m_agent->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
        m_startingScan = false;
        if (m_agent->isActive())
            m_discoveryCheck.start();
    }
}

void QtBluetoothCentral::onScanError(int error)
{
    if (m_agent && m_agent->isActive())
        return; // an error of an earlier start, already followed by a new one
    m_discoveryCheck.stop();
    switch (QBluetoothDeviceDiscoveryAgent::Error(error)) {
    case QBluetoothDeviceDiscoveryAgent::PoweredOffError:
        Q_EMIT scanFailed(u"蓝牙适配器关着"_s);
        break;
    case QBluetoothDeviceDiscoveryAgent::InputOutputError:
        Q_EMIT scanFailed(u"蓝牙适配器找不到或出错了"_s);
        break;
    case QBluetoothDeviceDiscoveryAgent::UnsupportedDiscoveryMethod:
        Q_EMIT scanFailed(u"蓝牙适配器不支持低功耗蓝牙扫描"_s);
        break;
    default:
        Q_EMIT scanFailed(u"蓝牙扫描出错（Qt 错误 "_s + QString::number(error) + u"）"_s);
        break;
    }
}

void QtBluetoothCentral::checkDiscovery()
{
    if (!m_agent || !m_agent->isActive() || m_radio.discovering())
        return;
    // Give Qt's interest in discovery back, so the next start asks BlueZ afresh.
    m_agent->stop();
    Q_EMIT scanFailed(u"蓝牙适配器没开始扫描（bluetoothd 拒绝了，多半是适配器正忙）"_s);
}

void QtBluetoothCentral::stopScan()
{
    m_discoveryCheck.stop();
    if (m_agent && m_agent->isActive()) {
        m_agent->stop();
    }
}

void QtBluetoothCentral::report(const QBluetoothDeviceInfo& info)
{
    if (!(info.coreConfigurations() & QBluetoothDeviceInfo::LowEnergyCoreConfiguration)) {
        return;
    }
    const QString id = info.address().toString().toUpper();
    m_seen.insert(id, info);
    // Only an advertisement heard since discovery started is a sighting. BlueZ keeps known
    // devices without RSSI (src/adapter.c, discovery_cleanup drops it when discovery ends) and
    // Qt reports those as RSSI 0; an RSSI changes only when BlueZ hears the device.
    if (m_startingScan || info.rssi() == 0) {
        return;
    }
    QStringList services;
    for (const QBluetoothUuid& u : info.serviceUuids()) {
        services.append(uuidString(u));
    }
    const std::optional<QString> name =
        info.name().isEmpty() ? std::nullopt : std::optional<QString>(info.name());
    Q_EMIT advertised(id, name, services, int(info.rssi()));
}

QString QtBluetoothCentral::peripheralName(const QString& peripheral) const
{
    return m_seen.value(peripheral.toUpper()).name();
}

// ---------------------------------------------------------------------------------------------
// Link

void QtBluetoothCentral::connectPeripheral(const QString& peripheral)
{
    const QString id = peripheral.toUpper();
    if (m_link) {
        endLink(std::nullopt);
    }
    QBluetoothDeviceInfo info = m_seen.value(id);
    if (!info.isValid()) {
        info = QBluetoothDeviceInfo(QBluetoothAddress(id), QString(), 0);
        info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
    }
    m_link = std::make_unique<Link>();
    m_link->id = id;
    auto* ctl = QLowEnergyController::createCentral(info, this);
    m_link->controller = ctl;

    connect(ctl, &QLowEnergyController::connected, this, [this, ctl, id] {
        if (m_link && m_link->controller == ctl) {
            m_link->connected = true;
            Q_EMIT connected(id);
        }
    });
    connect(ctl, &QLowEnergyController::errorOccurred, this, [this, ctl, id] {
        if (!m_link || m_link->controller != ctl) {
            return;
        }
        m_link->lastError = ctl->errorString();
        if (!m_link->connected && !m_link->cancelled) {
            const std::optional<QString> error = m_link->lastError;
            m_link.reset();
            ctl->deleteLater();
            Q_EMIT connectFailed(id, error);
        }
    });
    connect(ctl, &QLowEnergyController::disconnected, this, [this, ctl] {
        if (m_link && m_link->controller == ctl) {
            endLink(m_link->cancelled ? std::nullopt
                                      : std::optional<QString>(m_link->lastError.value_or(
                                            QStringLiteral("连接已断开"))));
        }
    });
    connect(ctl, &QLowEnergyController::discoveryFinished, this, [this, ctl, id] {
        if (!m_link || m_link->controller != ctl) {
            return;
        }
        QStringList found;
        for (const QBluetoothUuid& u : ctl->services()) {
            const QString s = uuidString(u);
            const bool wanted =
                m_link->requestedServices.isEmpty() ||
                std::any_of(m_link->requestedServices.begin(), m_link->requestedServices.end(),
                            [&](const QString& r) { return QBluetoothUuid(r) == u; });
            if (wanted) {
                found.append(s);
            }
        }
        Q_EMIT servicesDiscovered(id, found, std::nullopt);
    });
    post(ctl, [ctl] { ctl->connectToDevice(); });
}

void QtBluetoothCentral::cancelConnection(const QString& peripheral)
{
    if (!m_link || m_link->id != peripheral.toUpper()) {
        return;
    }
    m_link->cancelled = true;
    if (m_link->connected) {
        m_link->controller->disconnectFromDevice(); // confirmed by `disconnected`
    } else {
        // A pending attempt: Qt may never report its end, so confirm it ourselves.
        post(this, [this, id = m_link->id] {
            if (m_link && m_link->id == id && !m_link->connected) {
                endLink(std::nullopt);
            }
        });
    }
}

void QtBluetoothCentral::endLink(const std::optional<QString>& error)
{
    if (!m_link) {
        return;
    }
    const QString id = m_link->id;
    QLowEnergyController* ctl = m_link->controller;
    for (QLowEnergyService* s : std::as_const(m_link->services)) {
        s->deleteLater();
    }
    for (NotifySocket* n : std::as_const(m_link->notifySockets)) {
        n->deleteLater();
    }
    m_link.reset();
    if (ctl) {
        ctl->disconnect(this);
        ctl->disconnectFromDevice();
        ctl->deleteLater();
    }
    post(this, [this, id, error] { Q_EMIT disconnected(id, error); });
}

void QtBluetoothCentral::discoverServices(const QString& peripheral, const QStringList& services)
{
    if (!m_link || m_link->id != peripheral.toUpper() || !m_link->connected) {
        return;
    }
    m_link->requestedServices = services;
    m_link->controller->discoverServices();
}

void QtBluetoothCentral::discoverCharacteristics(const QString& peripheral, const QString& service)
{
    if (!m_link || m_link->id != peripheral.toUpper()) {
        return;
    }
    const QString key = service.toLower();
    QLowEnergyService* svc = m_link->services.value(key);
    if (!svc) {
        svc = m_link->controller->createServiceObject(QBluetoothUuid(service), this);
        if (!svc) {
            post(this, [this, id = m_link->id, service] {
                Q_EMIT characteristicsDiscovered(id, service, {}, QStringLiteral("服务不存在"));
            });
            return;
        }
        m_link->services.insert(key, svc);
        watchService(svc, service);
    }
    // Skip value reads: discovery must not issue any.
    svc->discoverDetails(QLowEnergyService::SkipValueDiscovery);
}

void QtBluetoothCentral::watchService(QLowEnergyService* svc, const QString& serviceUuid)
{
    const QString id = m_link->id;
    connect(svc, &QLowEnergyService::stateChanged, this,
            [this, svc, id, serviceUuid](QLowEnergyService::ServiceState s) {
                if (s != QLowEnergyService::RemoteServiceDiscovered) {
                    return;
                }
                QStringList chars;
                for (const QLowEnergyCharacteristic& c : svc->characteristics()) {
                    chars.append(uuidString(c.uuid()));
                }
                Q_EMIT characteristicsDiscovered(id, serviceUuid, chars, std::nullopt);
            });
    connect(svc, &QLowEnergyService::characteristicChanged, this,
            [this, id](const QLowEnergyCharacteristic& c, const QByteArray& value) {
                Q_EMIT valueUpdated(id, uuidString(c.uuid()), value);
            });
    connect(svc, &QLowEnergyService::descriptorWritten, this,
            [this, svc, id](const QLowEnergyDescriptor& d, const QByteArray&) {
                for (const QLowEnergyCharacteristic& c : svc->characteristics()) {
                    const QLowEnergyDescriptor ccc = c.clientCharacteristicConfiguration();
                    if (ccc.isValid() && ccc == d) {
                        Q_EMIT notificationStateUpdated(id, uuidString(c.uuid()), std::nullopt);
                    }
                }
            });
    connect(svc, &QLowEnergyService::errorOccurred, this,
            [this, svc, id](QLowEnergyService::ServiceError e) {
                if (e == QLowEnergyService::CharacteristicWriteError) {
                    // BlueZ refused a request: waiting for its answer would only time out.
                    if (m_link && m_link->id == id) {
                        endLink(u"写入请求失败（BlueZ 拒绝了写入）"_s);
                    }
                    return;
                }
                if (e != QLowEnergyService::DescriptorWriteError) {
                    return;
                }
                // Qt does not say which descriptor failed: report it for every notifying
                // characteristic still waiting (the client only awaits AE22's).
                for (const QLowEnergyCharacteristic& c : svc->characteristics()) {
                    if (c.properties() &
                        (QLowEnergyCharacteristic::Notify | QLowEnergyCharacteristic::Indicate)) {
                        Q_EMIT notificationStateUpdated(id, uuidString(c.uuid()),
                                                        QStringLiteral("订阅描述符写入失败"));
                    }
                }
            });
}

QLowEnergyService* QtBluetoothCentral::serviceOf(const QString& characteristic) const
{
    if (!m_link) {
        return nullptr;
    }
    const QBluetoothUuid uuid(characteristic);
    for (QLowEnergyService* s : m_link->services) {
        if (s->characteristic(uuid).isValid()) {
            return s;
        }
    }
    return nullptr;
}

void QtBluetoothCentral::setNotify(const QString& peripheral, const QString& characteristic,
                                   bool enabled)
{
    if (!m_link || m_link->id != peripheral.toUpper()) {
        return;
    }
    if (enabled && acquireNotify(characteristic)) {
        return; // the outcome follows
    }
    subscribeByDescriptor(characteristic, enabled);
}

// BlueZ's AcquireNotify where it offers it (KESTREL_BLUEZ_NOTIFY=signals keeps to Qt's own
// route, to compare the two).
bool QtBluetoothCentral::acquireNotify(const QString& characteristic)
{
    const QString key = characteristic.toLower();
    if (qEnvironmentVariable("KESTREL_BLUEZ_NOTIFY") == u"signals"_s ||
        m_link->notifySockets.contains(key) || m_radio.adapterName().isEmpty()) {
        return false;
    }
    const QString device = u"/org/bluez/"_s + m_radio.adapterName() + u"/dev_"_s +
                           QString(m_link->id).replace(u':', u'_');
    const QString path = NotifySocket::characteristicPath(device, key);
    if (path.isEmpty()) {
        return false;
    }
    const QString id = m_link->id;
    auto* socket = new NotifySocket(
        path,
        [this, id, characteristic](bool acquired) {
            if (!m_link || m_link->id != id) {
                return;
            }
            if (acquired) {
                Q_EMIT notificationStateUpdated(id, characteristic, std::nullopt);
            } else {
                subscribeByDescriptor(characteristic, true);
            }
        },
        [this, id, characteristic](const QByteArray& value) {
            Q_EMIT valueUpdated(id, characteristic, value);
        },
        this);
    m_link->notifySockets.insert(key, socket);
    return true;
}

void QtBluetoothCentral::subscribeByDescriptor(const QString& characteristic, bool enabled)
{
    QLowEnergyService* svc = serviceOf(characteristic);
    const QLowEnergyCharacteristic c =
        svc ? svc->characteristic(QBluetoothUuid(characteristic)) : QLowEnergyCharacteristic();
    const QLowEnergyDescriptor ccc = c.clientCharacteristicConfiguration();
    if (!svc || !ccc.isValid()) {
        post(this, [this, id = m_link->id, characteristic] {
            Q_EMIT notificationStateUpdated(id, characteristic, QStringLiteral("没有订阅描述符"));
        });
        return;
    }
    // BlueZ turns this into StartNotify/StopNotify.
    svc->writeDescriptor(ccc, QByteArray::fromHex(enabled ? "0100" : "0000"));
}

void QtBluetoothCentral::writeWithoutResponse(const QString& peripheral,
                                              const QString& characteristic,
                                              const QByteArray& value)
{
    if (!m_link || m_link->id != peripheral.toUpper()) {
        return;
    }
    QLowEnergyService* svc = serviceOf(characteristic);
    if (!svc) {
        return;
    }
    m_link->writeCharacteristic = characteristic;
    svc->writeCharacteristic(svc->characteristic(QBluetoothUuid(characteristic)), value,
                             QLowEnergyService::WriteWithoutResponse);
}

int QtBluetoothCentral::maximumWriteLength(const QString& peripheral) const
{
    if (!m_link || m_link->id != peripheral.toUpper()) {
        return 20;
    }
    if (m_link->maxWrite <= 0) {
        const int mtu = readBluezMtu();
        m_link->maxWrite = mtu > 3 ? mtu - 3 : 20; // 20: the default ATT MTU of 23, minus 3
    }
    return m_link->maxWrite;
}

// Qt 6.4 reports no MTU on BlueZ; BlueZ has it as a property of every GATT characteristic of
// the link. Any of the pen's characteristics will do.
int QtBluetoothCentral::readBluezMtu() const
{
    const QString device =
        QStringLiteral("dev_") + QString(m_link->id).replace(QLatin1Char(':'), QLatin1Char('_'));
    const QString root = QStringLiteral("/org/bluez");
    for (const QString& adapter : childNodes(root)) {
        const QString devicePath = root + QLatin1Char('/') + adapter + QLatin1Char('/') + device;
        for (const QString& service : childNodes(devicePath)) {
            const QString servicePath = devicePath + QLatin1Char('/') + service;
            for (const QString& ch : childNodes(servicePath)) {
                const QVariant mtu = bluezProperty(servicePath + QLatin1Char('/') + ch,
                                                   QStringLiteral("org.bluez.GattCharacteristic1"),
                                                   QStringLiteral("MTU"));
                if (mtu.isValid() && mtu.toInt() > 3) {
                    return mtu.toInt();
                }
            }
        }
    }
    return 0;
}
