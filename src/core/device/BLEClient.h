#pragma once

#include "device/AdvertisementStream.h"
#include "device/BLEError.h"
#include "device/Discovered.h"
#include "device/DownloadResult.h"
#include "device/FileEntry.h"
#include "device/FrameParser.h"
#include "device/OnceResume.h"
#include "device/PenReadings.h"
#include "device/Proto.h"
#include "device/ProtoError.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CentralPort;

// Every time-out the client applies on its own, in seconds. Defaults are production values;
// tests shrink them.
struct BLEClientTiming {
    double scanPowerOn = 5;      // radio wait at the start of a scan
    double connectStep = 10;     // connect request → connected
    double discoverStep = 10;    // service discovery → AE22 subscribed
    double settle = 2;           // wait for a requested disconnection before a new connect
    double listPoll = 0.3;       // file list: frame wait slice (idle checks between)
    double downloadPoll = 0.5;   // download: frame wait slice (idle checks between)
    double verifyListIdle = 1.5; // deleteOne: re-listing idle fallback
    double verifyListHard = 30;  // deleteOne: re-listing hard time-out
};

// The app's Bluetooth LE central for the pen: waits for the radio, scans, connects and
// subscribes, writes request frames and hands received frames to callers one at a time. The
// command flows (battery, list, download, delete, ...) are members too (BLECommands.cpp).
//
// Everything runs on the one event loop; the port delivers its callbacks there. Every wait
// (connect step, discovery step, frame, settle, radio) is resumed exactly once, by whichever of
// event, error, time-out or disconnection comes first. Async operations are QCoro tasks; any
// throwing operation throws BLEError or ProtoError. The port must outlive the client, and the
// client the flows it runs.
//
// Pass named values, not temporaries of class type, as arguments of these coroutines where you
// can: GCC 12 has destroyed such temporaries twice in coroutine calls.
class BLEClient {
public:
    using Timing = BLEClientTiming;

    struct SourcedFrame {
        QString source; // "AE22" or "AE23"
        Proto::Frame frame;
    };
    using Capacity = PenReadings::Capacity;
    struct FileList {
        QList<FileEntry> entries;
        bool gotDone = false; // the pen's end-of-list frame arrived
    };
    struct DeleteOutcome {
        bool deleted = false;
        QString text; // what happened, for the log
    };
    using ProgressFn = std::function<void(qint64 received, std::optional<uint32_t> expected)>;
    using DisconnectFn = std::function<void(const std::optional<QString>& error)>;

    explicit BLEClient(CentralPort& port, Timing timing = {});
    ~BLEClient();
    BLEClient(const BLEClient&) = delete;
    BLEClient& operator=(const BLEClient&) = delete;

    const Timing& timing() const { return m_timing; }

    // --- session (radio, scanning, link) ---
    // Returns once the radio is on; throws bluetoothUnavailable("state=N") after `timeout`.
    QCoro::Task<> waitPoweredOn(double timeout);
    // Scans for `seconds`; sightings with the AE20 service first, then by RSSI descending.
    QCoro::Task<QList<Discovered>> scan(double seconds, QString nameHint = {});
    AdvertisementStream advertisements();
    // The first sighting with the service, else the first whose name contains `name`
    // (case-insensitive); throws notFound.
    QCoro::Task<Discovered> findRecorder(double seconds, QString name);
    // Connect, discover AE20 and its characteristics, subscribe AE22/AE23; each step has its
    // own time-out. Throws connectFailed or missingCharacteristic.
    QCoro::Task<> connect(Discovered target);
    // Requests disconnection of the current pen; the next connect waits for it to settle.
    void disconnect();

    bool isConnected() const;
    // Maximum write length + 3, set after each successful connect.
    int mtu() const { return m_mtu; }
    // Called for a disconnection the app did not ask for, with the platform's error.
    void setOnDisconnect(DisconnectFn handler) { m_onDisconnect = std::move(handler); }
    const DisconnectFn& onDisconnect() const { return m_onDisconnect; }

    // --- frames ---
    uint8_t nextSeq();
    // Builds a frame with nextSeq() and writes it to AE21. Throws notConnected.
    void send(uint8_t type, uint8_t cmd, QByteArrayView body = {});
    // Writes bytes as they are (split to the link's write length). Throws notConnected.
    void sendRaw(const QByteArray& bytes);
    // The oldest received frame not yet taken; absent after `timeout` seconds, or at once when
    // nothing is pending and there is no link (no frame can come). Never throws.
    QCoro::Task<std::optional<SourcedFrame>> nextFrame(double timeout);
    // The next frame of this group and command; frames of other kinds are consumed and dropped.
    QCoro::Task<std::optional<Proto::Frame>> expect(uint8_t type, uint8_t cmd, double timeout);
    // "AE22: CRC错0 重同步1  AE23: CRC错0 重同步0"
    QString parserStats() const;

    // --- command flows ---
    QCoro::Task<std::optional<uint8_t>> battery(double timeout = 5);
    QCoro::Task<std::optional<Capacity>> capacity(double timeout = 4);
    QCoro::Task<std::optional<QString>> firmware(double timeout = 4);
    QCoro::Task<std::optional<uint8_t>> gain(double timeout = 4);
    QCoro::Task<std::optional<uint8_t>> recordStatus(double timeout = 4);
    // Absent when there is no answer or no file is being recorded.
    QCoro::Task<std::optional<QString>> currentFilename(double timeout = 4);
    // Sets the pen's clock to this date in the local time zone; no answer is awaited.
    void setTime(const QDateTime& date);
    // Lists the pen's files. A list cut short (idle after some data, hard time-out, or a dropped
    // link) returns what came with gotDone false.
    QCoro::Task<FileList> fileList(double idleFallback = 1.5, double hardTimeout = 30);
    // Downloads one file, trying the candidate names in order (passing over names too long for
    // the request), resuming stalls. Never throws: a link that is gone, or no candidate that
    // fits the request, gives a result with `disconnected`.
    QCoro::Task<DownloadResult> download(QStringList candidates, std::optional<uint32_t> expectSize,
                                         double idleTimeout,
                                         std::optional<int> maxResumes = std::nullopt,
                                         QByteArray resumeFrom = {}, ProgressFn onProgress = {});
    // Deletes a file and verifies its absence from a fresh list (the pen's own acknowledgement
    // is reported, not trusted). Names too long for the request are passed over. Throws
    // ProtoError when no name fits, or notConnected.
    QCoro::Task<DeleteOutcome> deleteOne(FileEntry entry, double timeout = 6);

    // maxResumes when none is given: max(8, expectSize MiB × 2).
    static int defaultMaxResumes(std::optional<uint32_t> expectSize);

private:
    friend class AdvertisementStream;
    using Result = std::optional<BLEError>; // empty = success

    void onStateUpdated(int state);
    void onAdvertised(const QString& peripheral, const std::optional<QString>& localName,
                      const QStringList& services, int rssi);
    void onConnected(const QString& peripheral);
    void onConnectFailed(const QString& peripheral, const std::optional<QString>& error);
    void onServicesDiscovered(const QString& peripheral, const QStringList& services,
                              const std::optional<QString>& error);
    void onCharacteristicsDiscovered(const QString& peripheral, const QString& service,
                                     const QStringList& chars, const std::optional<QString>& error);
    void onNotificationState(const QString& peripheral, const QString& characteristic,
                             const std::optional<QString>& error);
    void onValue(const QString& peripheral, const QString& characteristic, const QByteArray& value);
    void handleDisconnect(const QString& peripheral, const std::optional<QString>& error);

    void beginScanning();
    void stopScanningIfIdle();
    void removeSink(int id);
    void resetParsers();
    void wakeFrameWaiters();
    QCoro::Task<> waitDisconnectSettled(double timeout);
    // The time-out action of one connect step: fail it and give up the link.
    std::function<void()> stepTimeout(std::optional<OnceResume<Result>>& slot,
                                      OnceResume<Result> step, QString peripheral,
                                      BLEError onTimeout);
    static void finishStep(std::optional<OnceResume<Result>>& slot, Result result);
    void abandonLink(const QString& peripheral);
    QCoro::Task<std::optional<Proto::Frame>> request(uint8_t type, uint8_t cmd, uint8_t answer,
                                                     double timeout);
    // Sends, reporting false instead of throwing when the link is gone.
    bool trySendRaw(const QByteArray& bytes);

    CentralPort& m_port;
    Timing m_timing;
    QObject m_ctx; // owns connections to the port and the timers
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    std::optional<QString> m_peripheral;
    std::optional<QString> m_writeChar;
    QMap<QString, FrameParser> m_parsers;
    std::deque<SourcedFrame> m_pending;
    std::vector<OnceResume<bool>> m_frameWaiters;
    std::vector<OnceResume<bool>> m_stateWaiters;
    std::optional<OnceResume<Result>> m_connectWaiter;
    std::optional<OnceResume<Result>> m_discoverWaiter;
    int m_notifyReady = 0;
    QHash<QString, Discovered> m_discovered;
    QList<QString> m_discoveredOrder; // first-sighting order, so sorting is stable
    uint8_t m_seq = 0;
    QMap<int, std::shared_ptr<AdvertisementStream::Sink>> m_advSinks;
    int m_nextSinkId = 0;
    int m_timedScanDepth = 0;
    bool m_scanning = false;
    std::optional<QString> m_disconnecting;
    std::vector<OnceResume<bool>> m_settleWaiters;
    DisconnectFn m_onDisconnect;
    int m_mtu = 0;
};
