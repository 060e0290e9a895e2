#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

// The radio's state as BlueZ shows it on the system bus, in RadioState's numbering, announced
// on every change. Qt's own local-device object misses a bluetoothd restart and an adapter that
// appears later, so the port watches BlueZ itself: the org.bluez name, adapters appearing and
// going, and the adapter's Powered property; and the kernel's view in sysfs (rfkill blocks,
// whether there is Bluetooth hardware at all) to tell the user the right remedy.
class BluezRadio : public QObject {
    Q_OBJECT

public:
    // What the bus and sysfs tell us; the state follows from it alone.
    struct Facts {
        bool serviceUp = false;    // org.bluez has an owner
        bool serviceLost = false;  // ... and had one earlier, while we watched
        bool accessDenied = false; // the bus policy refused our call
        bool hasAdapter = false;
        bool powered = false;
        bool blocked = false;    // rfkill blocks Bluetooth (airplane mode)
        bool noHardware = false; // the kernel knows no Bluetooth controller
        bool operator==(const Facts&) const = default;
    };
    static int stateOf(const Facts& facts);

    // The sysfs root the kernel facts are read under: $KESTREL_SYSFS when set (tests), else
    // "/sys".
    static QString defaultSysfsRoot();
    // Whether rfkill blocks Bluetooth (softly or hard), from <root>/class/rfkill/*/.
    static bool rfkillBlocked(const QString& sysfsRoot);
    // Whether the kernel has a Bluetooth controller: <root>/class/bluetooth is a non-empty
    // folder (bluetooth.service does not even start without it).
    static bool hardwarePresent(const QString& sysfsRoot);

    // Reads the state once, synchronously, so state() is right from the start.
    explicit BluezRadio(QDBusConnection bus, const QString& sysfsRoot = defaultSysfsRoot(),
                        QObject* parent = nullptr);

    int state() const { return stateOf(m_facts); }
    // The adapter in use ("hci0"), and its address; empty without one.
    QString adapterName() const { return m_adapterPath.section(QLatin1Char('/'), -1); }
    QString adapterAddress() const { return m_adapterAddress; }
    // Whole-tree reads so far (start-up, bluetoothd back, our adapter gone): neighbours coming
    // and going must not cause any.
    int treeReads() const { return m_treeReads; }
    // The adapter's Discovering property: whether anybody's discovery really runs on it.
    bool discovering() const { return m_discovering; }

Q_SIGNALS:
    void stateChanged(int state);
    void discoveringChanged(bool discovering);

private Q_SLOTS:
    void onInterfacesAdded(const QDBusMessage& message);
    void onInterfacesRemoved(const QDBusMessage& message);
    void onPropertiesChanged(const QDBusMessage& message);

private:
    void refresh();
    void apply(const QDBusMessage& reply);
    void setFacts(Facts facts);
    void setDiscovering(bool on);

    QDBusConnection m_bus;
    QString m_sysfsRoot;
    QDBusServiceWatcher* m_watcher = nullptr;
    Facts m_facts;
    QString m_adapterPath;
    QString m_adapterAddress;
    int m_refreshGeneration = 0;
    int m_treeReads = 0;
    bool m_discovering = false;
};
