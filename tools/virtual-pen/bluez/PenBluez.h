#pragma once

#include "BluezAdapter.h"
#include "BluezObjectTree.h"
#include "BluezRoom.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class VirtualPen;

// A mock BlueZ that plays the virtual pen: it drives the pen through its Central port as Qt's
// BlueZ backend would drive a real one, and shows what the pen does as BlueZ's adapter, device
// and GATT objects. One scenario file so describes the pen on both paths.
//
// It is as unkind as bluetoothd 5.66: the pen's Device1 appears only when an advertisement is
// heard after discovery started, a known pen stays in the tree without RSSI, a disconnection
// takes about 2 s, and a link outlives the client that made it.
//
// Besides BlueZ's own interfaces it offers com.kestrel.MockPen at /mockpen, for tests:
// SetPowered(b), SetBlocked(b) (rfkill), RemoveAdapter(), AddAdapter(), Drop(), SetPenOn(b)
// (the pen advertises or not), RefuseDiscovery(n) (a busy controller refuses the next n
// StartDiscovery calls), AnswerConnects() (ends the scenario's ignoreConnect),
// Shutdown() (as bluetoothd stops), and the counters ContentBytesSent() -> x,
// ConnectCalls() -> i, TreeReads() -> i, NeighboursSeen() -> i, Connected() -> b.
class PenBluez : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool adapter = true;                  // an adapter is plugged in
        bool powered = true;                  // ... and switched on
        int powerOnDelayMs = 500;             // ... that long after it appeared
        std::optional<qint64> exitAfterBytes; // exit like a crashed bluetoothd once the pen
                                              // has sent that much file content
        bool known = false;                   // the pen is bonded: in the tree from the start
        int discoveryWarmupMs = 200;          // nothing is heard sooner after StartDiscovery
        int disconnectLingerMs = 2000;        // Disconnect keeps the link this long
        BluezRoom::Options room;              // neighbours
    };

    PenBluez(VirtualPen& pen, BluezObjectTree& tree, Options options);

    // A method call the tree does not answer itself; false when it is none of ours.
    bool handle(const QDBusMessage& call);
    // Stops as bluetoothd does: adapters off and gone, then off the bus, then exit.
    void stop() { shutdown(); }

private:
    struct Advertisement {
        QString name;
        QStringList services;
        int rssi = 0;
        QElapsedTimer heard;
    };

    bool handleDevice(const QDBusMessage& call);
    bool handleGatt(const QDBusMessage& call);
    bool handleControl(const QDBusMessage& call);

    void addDevice(const QString& name, const QStringList& services, std::optional<int> rssi,
                   bool paired);
    void shutdown();

    void onAdvertised(const QString& peripheral, const std::optional<QString>& name,
                      const QStringList& services, int rssi);
    void hear(const Advertisement& ad);
    void onConnected(const QString& peripheral);
    void onConnectFailed(const QString& peripheral, const std::optional<QString>& error);
    void onDisconnected(const QString& peripheral, const std::optional<QString>& error);
    void onServices(const QString& peripheral, const QStringList& services,
                    const std::optional<QString>& error);
    void onCharacteristics(const QString& peripheral, const QString& service,
                           const QStringList& characteristics, const std::optional<QString>& error);
    void onNotifyState(const QString& peripheral, const QString& characteristic,
                       const std::optional<QString>& error);
    void onValue(const QString& peripheral, const QString& characteristic, const QByteArray& value);

    void exportGatt(const QString& service, const QStringList& characteristics);
    void endLink(const QString& error);
    void answer(const QDBusMessage& call);
    void refuse(const QDBusMessage& call, const QString& text);

    VirtualPen& m_pen;
    BluezObjectTree& m_tree;
    Options m_options;
    QString m_address;
    QString m_devicePath;
    BluezAdapter m_adapter;
    BluezRoom m_room;
    QElapsedTimer m_discovering;
    QTimer m_linger;
    int m_connectCalls = 0;
    QHash<QString, QString> m_charPath; // pen's characteristic UUID -> object path
    QHash<QString, QString> m_charUuid; // object path -> pen's characteristic UUID
    QStringList m_servicePaths;
    QStringList m_servicesPending;
    int m_nextHandle = 1;
    bool m_rssiFlip = false;
    bool m_crashing = false;
    std::optional<Advertisement> m_lastAdvertisement;
    std::optional<QDBusMessage> m_connectCall;
    std::optional<QDBusMessage> m_disconnectCall;
    QHash<QString, QDBusMessage> m_notifyCalls; // by characteristic UUID
    QHash<QString, int> m_notifySockets;        // AcquireNotify's sockets, by UUID
};
