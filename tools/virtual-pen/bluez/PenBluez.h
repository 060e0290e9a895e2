#pragma once

#include "BluezObjectTree.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <optional>

class VirtualPen;

// A mock BlueZ that plays the virtual pen: it drives the pen through its Central port as Qt's
// BlueZ backend would drive a real one, and shows what the pen does as BlueZ's adapter, device
// and GATT objects. One scenario file so describes the pen on both paths.
//
// Besides BlueZ's own interfaces it offers com.kestrel.MockPen at /mockpen, for tests:
// SetPowered(b), RemoveAdapter(), AddAdapter(), Drop(), AnswerConnects() (ends the scenario's
// ignoreConnect), ContentBytesSent() -> x.
class PenBluez : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool adapter = true;                  // an adapter is plugged in
        bool powered = true;                  // ... and switched on
        std::optional<qint64> exitAfterBytes; // exit like a crashed bluetoothd once the pen
                                              // has sent that much file content
    };

    PenBluez(VirtualPen& pen, BluezObjectTree& tree, Options options);

    // A method call the tree does not answer itself; false when it is none of ours.
    bool handle(const QDBusMessage& call);

private:
    struct Advertisement {
        QString name;
        QStringList services;
        int rssi = 0;
        QElapsedTimer heard;
    };

    bool handleAdapter(const QDBusMessage& call);
    bool handleDevice(const QDBusMessage& call);
    bool handleGatt(const QDBusMessage& call);
    bool handleControl(const QDBusMessage& call);

    void addAdapter();
    void removeAdapter();
    void setPowered(bool on);
    bool powered() const;

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
};
