#include "BluezRadio.h"

#include "device/RadioState.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTimer>
#include <QVariantMap>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kBluez = u"org.bluez"_s;
const QString kObjectManager = u"org.freedesktop.DBus.ObjectManager"_s;
const QString kAdapter = u"org.bluez.Adapter1"_s;
// A call to a bluetoothd that hangs must not hold the start-up for long.
constexpr int kCallTimeoutMs = 3000;
// A tree read that failed for another reason than bluetoothd's absence is tried again.
constexpr int kRetryMs = 1000;

// Read with QDBusArgument's own templates. These types must not be registered with QtDBus
// here: Qt Bluetooth registers its own aliases of them, and a registration made first leaves
// its discovery agent deaf to InterfacesAdded, so a pen BlueZ had not met before is never seen.
using InterfaceMap = QMap<QString, QVariantMap>;
using ObjectMap = QMap<QDBusObjectPath, InterfaceMap>;

QString readLine(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readLine()).trimmed();
}

} // namespace

int BluezRadio::stateOf(const Facts& f)
{
    if (f.accessDenied)
        return RadioState::unauthorized;
    if (!f.serviceUp) {
        // Without hardware bluetoothd is not even started: starting it is no remedy.
        if (f.noHardware)
            return RadioState::unsupported;
        return f.serviceLost ? RadioState::resetting : RadioState::unknown;
    }
    if (!f.hasAdapter)
        return RadioState::unsupported;
    if (f.powered)
        return RadioState::poweredOn;
    return f.blocked ? RadioState::blocked : RadioState::poweredOff;
}

QString BluezRadio::defaultSysfsRoot()
{
    const QString injected = qEnvironmentVariable("KESTREL_SYSFS");
    return injected.isEmpty() ? u"/sys"_s : injected;
}

bool BluezRadio::rfkillBlocked(const QString& sysfsRoot)
{
    const QDir dir(sysfsRoot + u"/class/rfkill"_s);
    for (const QString& entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = dir.filePath(entry) + u'/';
        if (readLine(base + u"type"_s) != u"bluetooth"_s)
            continue;
        if (readLine(base + u"soft"_s) == u"1"_s || readLine(base + u"hard"_s) == u"1"_s)
            return true;
    }
    return false;
}

bool BluezRadio::hardwarePresent(const QString& sysfsRoot)
{
    const QDir dir(sysfsRoot + u"/class/bluetooth"_s);
    return dir.exists() && !dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
}

BluezRadio::BluezRadio(QDBusConnection bus, const QString& sysfsRoot, QObject* parent)
    : QObject(parent), m_bus(bus), m_sysfsRoot(sysfsRoot)
{
    m_watcher =
        new QDBusServiceWatcher(kBluez, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    // bluetoothd counts as gone only when its name leaves the bus, never because a call failed.
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
    // Adapters appearing or going, and their Powered property; read from the signal itself, so
    // the neighbours of a busy room (devices appearing and expiring all the time) cost nothing.
    m_bus.connect(kBluez, u"/"_s, kObjectManager, u"InterfacesAdded"_s, this,
                  SLOT(onInterfacesAdded(QDBusMessage)));
    m_bus.connect(kBluez, u"/"_s, kObjectManager, u"InterfacesRemoved"_s, this,
                  SLOT(onInterfacesRemoved(QDBusMessage)));
    m_bus.connect(kBluez, QString(), u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s,
                  QStringList{kAdapter}, QString(), this, SLOT(onPropertiesChanged(QDBusMessage)));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kBluez, u"/"_s, kObjectManager, u"GetManagedObjects"_s);
    ++m_treeReads;
    apply(m_bus.call(call, QDBus::Block, kCallTimeoutMs));
}

void BluezRadio::onInterfacesAdded(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || !m_adapterPath.isEmpty())
        return;
    InterfaceMap interfaces;
    args.at(1).value<QDBusArgument>() >> interfaces;
    const auto adapter = interfaces.constFind(kAdapter);
    if (adapter == interfaces.cend())
        return;
    m_adapterPath = args.at(0).value<QDBusObjectPath>().path();
    m_adapterAddress = adapter->value(u"Address"_s).toString();
    Facts f = m_facts;
    f.serviceUp = true;
    f.hasAdapter = true;
    f.powered = adapter->value(u"Powered"_s).toBool();
    setFacts(f);
    setDiscovering(adapter->value(u"Discovering"_s).toBool());
}

void BluezRadio::onInterfacesRemoved(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || args.at(0).value<QDBusObjectPath>().path() != m_adapterPath ||
        !args.at(1).toStringList().contains(kAdapter))
        return;
    // Ours went: another adapter may be there to take its place.
    refresh();
}

void BluezRadio::onPropertiesChanged(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || message.path() != m_adapterPath || args.at(0).toString() != kAdapter)
        return;
    QVariantMap changed;
    args.at(1).value<QDBusArgument>() >> changed;
    if (changed.contains(u"Discovering"_s))
        setDiscovering(changed.value(u"Discovering"_s).toBool());
    if (!changed.contains(u"Powered"_s))
        return;
    Facts f = m_facts;
    f.powered = changed.value(u"Powered"_s).toBool();
    setFacts(f);
}

void BluezRadio::refresh()
{
    const int generation = ++m_refreshGeneration;
    ++m_treeReads;
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
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString error = reply.errorName();
        if (error == u"org.freedesktop.DBus.Error.AccessDenied"_s) {
            f.accessDenied = true;
        } else if (error != u"org.freedesktop.DBus.Error.ServiceUnknown"_s &&
                   error != u"org.freedesktop.DBus.Error.NameHasNoOwner"_s &&
                   m_bus.interface()->isServiceRegistered(kBluez)) {
            // bluetoothd is there but slow or busy (a time-out, say): what we knew still
            // holds; ask again in a moment.
            const int generation = m_refreshGeneration;
            QTimer::singleShot(kRetryMs, this, [this, generation] {
                if (generation == m_refreshGeneration)
                    refresh();
            });
            return;
        }
        m_adapterPath.clear();
        m_adapterAddress.clear();
        setFacts(f);
        setDiscovering(false);
        return;
    }
    m_adapterPath.clear();
    m_adapterAddress.clear();
    bool discovering = false;
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
        discovering = adapter->value(u"Discovering"_s).toBool();
        break;
    }
    setFacts(f);
    setDiscovering(discovering);
}

void BluezRadio::setDiscovering(bool on)
{
    if (m_discovering == on)
        return;
    m_discovering = on;
    Q_EMIT discoveringChanged(on);
}

void BluezRadio::setFacts(Facts facts)
{
    // The kernel's side is read whenever it could change the advice; no signal announces it.
    facts.blocked =
        facts.serviceUp && facts.hasAdapter && !facts.powered && rfkillBlocked(m_sysfsRoot);
    facts.noHardware = !facts.serviceUp && !hardwarePresent(m_sysfsRoot);
    const int before = state();
    m_facts = facts;
    if (state() != before)
        Q_EMIT stateChanged(state());
}
