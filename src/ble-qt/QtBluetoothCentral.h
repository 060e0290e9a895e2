#pragma once

#include "BluezRadio.h"
#include "device/CentralPort.h"

#include <QBluetoothDeviceInfo>
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <memory>

class NotifySocket;
class QBluetoothDeviceDiscoveryAgent;
class QLowEnergyController;
class QLowEnergyService;

// The Central port on Qt Bluetooth. One link at a time (the pen's client needs no more).
//
// Covers what Qt 6.4 leaves out on BlueZ: the radio's state comes from BlueZ itself (BluezRadio:
// adapters, Powered, bluetoothd coming and going), the maximum write length is read from
// BlueZ's MTU property of the write characteristic (Qt reports none), and losing the radio
// counts as a disconnection (Qt does not notice bluetoothd going away). Connect time-outs are
// the client's own.
class QtBluetoothCentral : public CentralPort {
    Q_OBJECT

public:
    explicit QtBluetoothCentral(QObject* parent = nullptr);
    ~QtBluetoothCentral() override;

    // The adapter in use, "hci0（00:11:22:33:44:55）"; empty when there is none.
    QString adapterDescription() const;

    int state() const override;
    void startScan() override;
    void stopScan() override;
    void connectPeripheral(const QString& peripheral) override;
    void cancelConnection(const QString& peripheral) override;
    void discoverServices(const QString& peripheral, const QStringList& services) override;
    void discoverCharacteristics(const QString& peripheral, const QString& service) override;
    void setNotify(const QString& peripheral, const QString& characteristic, bool enabled) override;
    void writeWithoutResponse(const QString& peripheral, const QString& characteristic,
                              const QByteArray& value) override;
    int maximumWriteLength(const QString& peripheral) const override;
    QString peripheralName(const QString& peripheral) const override;

private:
    struct Link {
        QString id;
        QLowEnergyController* controller = nullptr;
        QHash<QString, QLowEnergyService*> services; // by lower-case UUID string
        QHash<QString, NotifySocket*> notifySockets; // by lower-case characteristic UUID
        QStringList requestedServices;
        bool connected = false;
        bool cancelled = false;
        std::optional<QString> lastError;
        mutable int maxWrite = 0;
        QString writeCharacteristic;
    };

    void onRadioState(int state);
    void onScanError(int error);
    void checkDiscovery();
    void report(const QBluetoothDeviceInfo& info);
    void endLink(const std::optional<QString>& error);
    QLowEnergyService* serviceOf(const QString& characteristic) const;
    void watchService(QLowEnergyService* service, const QString& uuid);
    int readBluezMtu() const;
    bool acquireNotify(const QString& characteristic);
    void subscribeByDescriptor(const QString& characteristic, bool enabled);

    BluezRadio m_radio;
    QBluetoothDeviceDiscoveryAgent* m_agent = nullptr;
    QHash<QString, QBluetoothDeviceInfo> m_seen;
    bool m_startingScan = false;
    // Qt sends StartDiscovery without looking at the answer: when BlueZ refuses (a busy
    // controller), the agent stays "active" and hears nothing. The adapter's Discovering
    // property tells.
    QTimer m_discoveryCheck;
    std::unique_ptr<Link> m_link;
};
