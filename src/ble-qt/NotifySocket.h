#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

// Notifications of one characteristic through BlueZ's AcquireNotify: BlueZ hands over a
// socket and writes each notification to it as one packet (src/gatt-client.c, notify_cb writes
// to notify_io), instead of one PropertiesChanged signal each on the bus, which costs the
// daemon, the bus and Qt's D-Bus layer far more per byte. Qt 6.4 does not use it.
class NotifySocket : public QObject {
public:
    using Outcome = std::function<void(bool acquired)>;
    using Packet = std::function<void(const QByteArray& value)>;

    // Asks BlueZ for the socket of the characteristic at `path`; `outcome` says whether it came
    // (false: the caller subscribes the ordinary way). Each notification then goes to `packet`.
    NotifySocket(const QString& path, Outcome outcome, Packet packet, QObject* parent = nullptr);
    ~NotifySocket() override;

    // BlueZ's object path of the characteristic with this UUID under the device; empty when
    // there is none.
    static QString characteristicPath(const QString& devicePath, const QString& uuid);

private:
    void readAll();

    Packet m_packet;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
