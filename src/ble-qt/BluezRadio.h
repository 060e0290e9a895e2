#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// The radio's state as BlueZ shows it on the system bus, in RadioState's numbering, announced
// on every change. Qt's own local-device object misses a bluetoothd restart and an adapter that
// appears later, so the port watches BlueZ itself: the org.bluez name, its object tree (adapters
// come and go) and the adapters' Powered property.
class BluezRadio : public QObject {
    Q_OBJECT

public:
    // What the bus tells us; the state follows from it alone.
    struct Facts {
        bool serviceUp = false;    // org.bluez has an owner
        bool serviceLost = false;  // ... and had one earlier, while we watched
        bool accessDenied = false; // the bus policy refused our call
        bool hasAdapter = false;
        bool powered = false;
        bool operator==(const Facts&) const = default;
    };
    static int stateOf(const Facts& facts);

    // Reads the state once, synchronously, so state() is right from the start.
    explicit BluezRadio(QDBusConnection bus, QObject* parent = nullptr);

    int state() const { return stateOf(m_facts); }
    // The adapter in use ("hci0"), and its address; empty without one.
    QString adapterName() const { return m_adapterPath.section(QLatin1Char('/'), -1); }
    QString adapterAddress() const { return m_adapterAddress; }

Q_SIGNALS:
    void stateChanged(int state);

private Q_SLOTS:
    void onBluezSignal(const QDBusMessage& message);

private:
    void refresh();
    void apply(const QDBusMessage& reply);
    void setFacts(const Facts& facts);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    Facts m_facts;
    QString m_adapterPath;
    QString m_adapterAddress;
    int m_refreshGeneration = 0;
};
