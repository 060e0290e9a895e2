#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

// The Bluetooth LE central as the device client needs it: exactly the platform operations and
// callbacks the client uses, and nothing of its logic. Implemented on Qt Bluetooth (src/ble-qt)
// and by the virtual pen (tools/virtual-pen).
//
// Contract for implementations:
// - Peripherals are named by their identity string (on Linux the address, upper case).
// - Service and characteristic UUIDs are strings; the client matches them by their lower-cased
//   prefix ("ae20", "ae21", ...), so both "ae20" and the full 128-bit form work.
// - Every signal is emitted on the thread of the port's event loop and never from inside one of
//   the operations below: an operation only starts something, its outcome arrives later as a
//   signal. The client relies on this to stay re-entrancy free.
// - An error argument that is absent means "no error"; present, it is the platform's
//   user-readable description.
class CentralPort : public QObject {
    Q_OBJECT

public:
    // state() value meaning the radio is on (other values are the platform's own numbers).
    static constexpr int poweredOn = 5;

    using QObject::QObject;
    ~CentralPort() override = default;

    virtual int state() const = 0;

    // Scan for all peripherals, reporting every advertisement (duplicates included).
    virtual void startScan() = 0;
    virtual void stopScan() = 0;

    virtual void connectPeripheral(const QString& peripheral) = 0;
    // Ends a connection or a pending connection attempt.
    virtual void cancelConnection(const QString& peripheral) = 0;

    // Discover the services with these UUIDs (all when empty).
    virtual void discoverServices(const QString& peripheral, const QStringList& services) = 0;
    // Discover all characteristics of one service.
    virtual void discoverCharacteristics(const QString& peripheral, const QString& service) = 0;
    virtual void setNotify(const QString& peripheral, const QString& characteristic,
                           bool enabled) = 0;
    virtual void writeWithoutResponse(const QString& peripheral, const QString& characteristic,
                                      const QByteArray& value) = 0;
    // Longest value writeWithoutResponse accepts on this link (the link's MTU − 3).
    virtual int maximumWriteLength(const QString& peripheral) const = 0;
    // The peripheral's own name, empty when unknown.
    virtual QString peripheralName(const QString& peripheral) const = 0;

Q_SIGNALS:
    void stateUpdated(int state);
    // Scanning stopped on the platform's error (it does not restart by itself); error is the
    // platform's user-readable reason.
    void scanFailed(const QString& error);
    // One advertisement. localName is absent when the advertisement carried none.
    void advertised(const QString& peripheral, const std::optional<QString>& localName,
                    const QStringList& serviceUuids, int rssi);
    void connected(const QString& peripheral);
    void connectFailed(const QString& peripheral, const std::optional<QString>& error);
    void disconnected(const QString& peripheral, const std::optional<QString>& error);
    void servicesDiscovered(const QString& peripheral, const QStringList& services,
                            const std::optional<QString>& error);
    void characteristicsDiscovered(const QString& peripheral, const QString& service,
                                   const QStringList& characteristics,
                                   const std::optional<QString>& error);
    void notificationStateUpdated(const QString& peripheral, const QString& characteristic,
                                  const std::optional<QString>& error);
    void valueUpdated(const QString& peripheral, const QString& characteristic,
                      const QByteArray& value);
};
