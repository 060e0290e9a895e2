#pragma once

#include "BluezObjectTree.h"

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QTimer>

// The adapter of the mock BlueZ, as bluetoothd 5.66 runs it: added unpowered and powered a
// moment later, powered off before the daemon leaves the bus, refusing to power on under an
// rfkill block, and dropping every device's RSSI when discovery ends.
class BluezAdapter : public QObject {
    Q_OBJECT

public:
    static inline const QString path = QStringLiteral("/org/bluez/hci0");
    static inline const QString iface = QStringLiteral("org.bluez.Adapter1");

    explicit BluezAdapter(BluezObjectTree& tree, QObject* parent = nullptr);

    // Adds the adapter unpowered; with `powerOn` it powers on after `delayMs`.
    void plugIn(bool powerOn, int delayMs);
    void unplug();
    bool present() const { return m_tree.contains(path); }
    bool powered() const;
    bool discovering() const;
    void setPowered(bool on);
    // rfkill: a block powers the adapter off; lifting it brings back the power it had.
    void setBlocked(bool blocked);
    // A controller busy with something else: the next `count` StartDiscovery calls are refused.
    void refuseDiscovery(int count) { m_refuseDiscovery = count; }
    // How bluetoothd ends: adapters off, their objects gone; then `done` (leave the bus).
    void shutdown(std::function<void()> done);

    // Adapter1 methods and the Powered property's setter; false when the call is none of these.
    bool handle(const QDBusMessage& call);

Q_SIGNALS:
    // Before the adapter goes off or away: links end first.
    void goingDown(const QString& reason);
    void discoveringChanged(bool on);

private:
    void answer(const QDBusMessage& call);
    void fail(const QDBusMessage& call, const QString& name, const QString& text);
    void setDiscovering(bool on);

    BluezObjectTree& m_tree;
    QTimer m_powerOn;
    bool m_blocked = false;
    bool m_poweredBeforeBlock = false;
    int m_refuseDiscovery = 0;
};
