#include "BluezRadio.h"

#include "device/RadioState.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QVariantMap>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kBluez = u"org.bluez"_s;
const QString kObjectManager = u"org.freedesktop.DBus.ObjectManager"_s;
const QString kAdapter = u"org.bluez.Adapter1"_s;
// A call to a bluetoothd that hangs must not hold the start-up for long.
constexpr int kCallTimeoutMs = 3000;

using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;

} // namespace

int BluezRadio::stateOf(const Facts& f)
{
    if (f.accessDenied)
        return RadioState::unauthorized;
    if (!f.serviceUp)
        return f.serviceLost ? RadioState::resetting : RadioState::unknown;
    if (!f.hasAdapter)
        return RadioState::unsupported;
    return f.powered ? RadioState::poweredOn : RadioState::poweredOff;
}

BluezRadio::BluezRadio(QDBusConnection bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<InterfaceMap>();
    qDBusRegisterMetaType<ObjectMap>();

    m_watcher =
        new QDBusServiceWatcher(kBluez, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    Facts f;
                    f.serviceLost = true;
                    m_adapterPath.clear();
                    m_adapterAddress.clear();
                    ++m_refreshGeneration; // a reply still on its way is out of date
                    setFacts(f);
                } else {
                    refresh();
                }
            });
    // Adapters appearing or going, and their Powered property.
    m_bus.connect(kBluez, u"/"_s, kObjectManager, u"InterfacesAdded"_s, this,
                  SLOT(onBluezSignal(QDBusMessage)));
    m_bus.connect(kBluez, u"/"_s, kObjectManager, u"InterfacesRemoved"_s, this,
                  SLOT(onBluezSignal(QDBusMessage)));
    m_bus.connect(kBluez, QString(), u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s,
                  this, SLOT(onBluezSignal(QDBusMessage)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kBluez, u"/"_s, kObjectManager, u"GetManagedObjects"_s);
    apply(m_bus.call(call, QDBus::Block, kCallTimeoutMs));
}

void BluezRadio::onBluezSignal(const QDBusMessage& message)
{
    if (message.member() == u"PropertiesChanged"_s) {
        const QList<QVariant> args = message.arguments();
        if (args.isEmpty() || args.first().toString() != kAdapter)
            return;
    }
    refresh();
}

void BluezRadio::refresh()
{
    const int generation = ++m_refreshGeneration;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kBluez, u"/"_s, kObjectManager, u"GetManagedObjects"_s);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation == m_refreshGeneration)
            apply(watcher->reply());
    });
}

void BluezRadio::apply(const QDBusMessage& reply)
{
    Facts f;
    f.serviceLost = m_facts.serviceLost || m_facts.serviceUp;
    m_adapterPath.clear();
    m_adapterAddress.clear();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        f.accessDenied = reply.errorName() == u"org.freedesktop.DBus.Error.AccessDenied"_s;
        setFacts(f);
        return;
    }
    f.serviceUp = true;
    f.serviceLost = false;
    ObjectMap objects;
    if (!reply.arguments().isEmpty())
        reply.arguments().first().value<QDBusArgument>() >> objects;
    // The first adapter in path order, as Qt picks its default adapter.
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const auto adapter = it->constFind(kAdapter);
        if (adapter == it->cend())
            continue;
        f.hasAdapter = true;
        f.powered = adapter->value(u"Powered"_s).toBool();
        m_adapterPath = it.key().path();
        m_adapterAddress = adapter->value(u"Address"_s).toString();
        break;
    }
    setFacts(f);
}

void BluezRadio::setFacts(const Facts& facts)
{
    const int before = state();
    m_facts = facts;
    if (state() != before)
        Q_EMIT stateChanged(state());
}
