#pragma once

#include "device/AdvertisementStream.h"
#include "device/Discovered.h"
#include "device/OnceResume.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CentralPort;

// The radio and scanning half of the device client: waits for the radio, runs timed scans and
// advertisement streams over one port, starting the port's scan while any of them needs it and
// again when the radio comes back.
class BLEScanner {
public:
    // scanRetry: seconds before a scan the platform ended on an error is started again.
    BLEScanner(CentralPort& port, double scanPowerOn, double scanRetry);
    ~BLEScanner();
    BLEScanner(const BLEScanner&) = delete;
    BLEScanner& operator=(const BLEScanner&) = delete;

    // Returns once the radio is on, waiting through other states; throws
    // bluetoothUnavailable("state=N") when it is not on after `timeout`.
    QCoro::Task<> waitPoweredOn(double timeout);
    // Scans for `seconds`; sightings with the AE20 service first, then by RSSI descending.
    QCoro::Task<QList<Discovered>> scan(double seconds);
    AdvertisementStream advertisements();
    // The first sighting with the service, else the first whose name contains `name`
    // (case-insensitive); throws notFound.
    QCoro::Task<Discovered> findRecorder(double seconds, QString name);
    // Told the reason when scanning stops on an error, once until a sighting shows it works
    // again (the scan is retried meanwhile).
    using ScanFailedFn = std::function<void(const QString& error)>;
    void setOnScanFailed(ScanFailedFn fn) { m_onScanFailed = std::move(fn); }

private:
    friend class AdvertisementStream;

    void onStateUpdated(int state);
    void onScanFailed(const QString& error);
    void onAdvertised(const QString& peripheral, const std::optional<QString>& localName,
                      const QStringList& services, int rssi);
    void beginScanning();
    void stopScanningIfIdle();
    void removeSink(int id);

    CentralPort& m_port;
    double m_scanPowerOn;
    double m_scanRetry;
    ScanFailedFn m_onScanFailed;
    std::optional<QString> m_scanError; // the failure not yet followed by a sighting
    bool m_retryPending = false;
    int m_scanFailures = 0; // ever, so a timed scan can tell whether one fell into it
    QObject m_ctx;          // owns connections to the port and the timers
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    std::vector<OnceResume<bool>> m_stateWaiters;
    QHash<QString, Discovered> m_discovered;
    QList<QString> m_discoveredOrder; // first-sighting order, so sorting is stable
    QMap<int, std::shared_ptr<AdvertisementStream::Sink>> m_advSinks;
    int m_nextSinkId = 0;
    int m_timedScanDepth = 0;
    bool m_scanning = false;
};
