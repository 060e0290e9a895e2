#pragma once

#include "device/AdvertisementStream.h"
#include "device/BLEError.h"
#include "device/BLEScanner.h"
#include "device/Discovered.h"
#include "device/DownloadResult.h"
#include "device/FileEntry.h"
#include "device/FrameInbox.h"
#include "device/OnceResume.h"
#include "device/PenCommands.h"
#include "device/Proto.h"
#include "device/ProtoError.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CentralPort;

// Every time-out the client applies on its own, in seconds. Defaults are production values;
// tests shrink them.
struct BLEClientTiming {
    double scanPowerOn = 5;   // radio wait at the start of a scan
    double scanRetry = 5;     // a scan the platform ended on an error starts again after this
    double connectStep = 10;  // connect request → connected
    double discoverStep = 10; // service discovery → AE22 subscribed
    // Wait for a requested disconnection before a new connect. BlueZ keeps the link about 2 s
    // after Disconnect (src/device.c, device_request_disconnect's timer): a little longer.
    double settle = 3;
    double listPoll = 0.3;       // file list: frame wait slice (idle checks between)
    double downloadPoll = 0.5;   // download: frame wait slice (idle checks between)
    double verifyListIdle = 1.5; // deleteOne: re-listing idle fallback
    double verifyListHard = 30;  // deleteOne: re-listing hard time-out
};

// The app's Bluetooth LE central for the pen: waits for the radio, scans, connects and
// subscribes, writes request frames and hands received frames to callers one at a time. Radio
// and scanning live in BLEScanner, received frames in FrameInbox, and the command flows
// (battery, list, download, delete, ...) in PenCommands; the client offers them all.
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

    using SourcedFrame = FrameInbox::SourcedFrame;
    using Capacity = PenCommands::Capacity;
    using FileList = PenCommands::FileList;
    using DeleteOutcome = PenCommands::DeleteOutcome;
    using ProgressFn = PenCommands::ProgressFn;
    using DisconnectFn = std::function<void(const std::optional<QString>& error)>;

    explicit BLEClient(CentralPort& port, Timing timing = {});
    ~BLEClient();
    BLEClient(const BLEClient&) = delete;
    BLEClient& operator=(const BLEClient&) = delete;

    const Timing& timing() const { return m_timing; }

    // --- session (radio, scanning, link) ---
    // Returns once the radio is on, waiting through other states; throws
    // bluetoothUnavailable("state=N") when it is not on after `timeout`.
    QCoro::Task<> waitPoweredOn(double timeout) { return m_scanner.waitPoweredOn(timeout); }
    // Scans for `seconds`; sightings with the AE20 service first, then by RSSI descending.
    QCoro::Task<QList<Discovered>> scan(double seconds, const QString& /*nameHint*/ = {})
    {
        return m_scanner.scan(seconds);
    }
    AdvertisementStream advertisements() { return m_scanner.advertisements(); }
    // Told why scanning stopped on an error, once until a sighting shows it works again.
    void setOnScanFailed(BLEScanner::ScanFailedFn fn) { m_scanner.setOnScanFailed(std::move(fn)); }
    // The first sighting with the service, else the first whose name contains `name`
    // (case-insensitive); throws notFound.
    QCoro::Task<Discovered> findRecorder(double seconds, QString name)
    {
        return m_scanner.findRecorder(seconds, name);
    }
    // Connect, discover AE20 and its characteristics, subscribe AE22/AE23; each step has its
    // own time-out. Throws connectFailed or missingCharacteristic.
    QCoro::Task<> connect(Discovered target);
    // Requests disconnection of the current pen; the next connect waits for it to settle and
    // fails rather than connect into a link that is still closing.
    void disconnect();
    // Disconnects and waits (at most `timeout`) until the link is really down: before the
    // process exits, as BlueZ keeps a link whose client has left the bus.
    QCoro::Task<> close(double timeout);

    bool isConnected() const;
    // Connected with the write characteristic found: requests can be sent.
    bool canWrite() const { return m_peripheral && m_writeChar; }
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
    QCoro::Task<std::optional<SourcedFrame>> nextFrame(double timeout)
    {
        return m_inbox.next(timeout);
    }
    // The next frame of this group and command; frames of other kinds are consumed and dropped.
    QCoro::Task<std::optional<Proto::Frame>> expect(uint8_t type, uint8_t cmd, double timeout)
    {
        return m_inbox.expect(type, cmd, timeout);
    }
    // "AE22: CRC错0 重同步1  AE23: CRC错0 重同步0"
    QString parserStats() const { return m_inbox.stats(); }

    // --- command flows (PenCommands) ---
    QCoro::Task<std::optional<uint8_t>> battery(double timeout = 5)
    {
        return m_commands.battery(timeout);
    }
    QCoro::Task<std::optional<Capacity>> capacity(double timeout = 4)
    {
        return m_commands.capacity(timeout);
    }
    QCoro::Task<std::optional<QString>> firmware(double timeout = 4)
    {
        return m_commands.firmware(timeout);
    }
    QCoro::Task<std::optional<uint8_t>> gain(double timeout = 4)
    {
        return m_commands.gain(timeout);
    }
    QCoro::Task<std::optional<uint8_t>> recordStatus(double timeout = 4)
    {
        return m_commands.recordStatus(timeout);
    }
    QCoro::Task<std::optional<QString>> currentFilename(double timeout = 4)
    {
        return m_commands.currentFilename(timeout);
    }
    void setTime(const QDateTime& date) { m_commands.setTime(date); }
    QCoro::Task<FileList> fileList(double idleFallback = 1.5, double hardTimeout = 30)
    {
        return m_commands.fileList(idleFallback, hardTimeout);
    }
    QCoro::Task<DownloadResult> download(const QStringList& candidates,
                                         std::optional<uint32_t> expectSize, double idleTimeout,
                                         std::optional<int> maxResumes = std::nullopt,
                                         const QByteArray& resumeFrom = {},
                                         const ProgressFn& onProgress = {})
    {
        return m_commands.download(candidates, expectSize, idleTimeout, maxResumes, resumeFrom,
                                   onProgress);
    }
    QCoro::Task<DeleteOutcome> deleteOne(const FileEntry& entry, double timeout = 6)
    {
        return m_commands.deleteOne(entry, timeout);
    }
    static int defaultMaxResumes(std::optional<uint32_t> expectSize)
    {
        return PenCommands::defaultMaxResumes(expectSize);
    }

private:
    using Result = std::optional<BLEError>; // empty = success

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

    // False when the link was still closing at the time-out.
    QCoro::Task<bool> waitDisconnectSettled(double timeout);
    // The time-out action of one connect step: fail it and give up the link.
    std::function<void()> stepTimeout(std::optional<OnceResume<Result>>& slot,
                                      OnceResume<Result> step, QString peripheral,
                                      BLEError onTimeout);
    static void finishStep(std::optional<OnceResume<Result>>& slot, Result result);
    void abandonLink(const QString& peripheral);

    CentralPort& m_port;
    Timing m_timing;
    QObject m_ctx; // owns connections to the port and the timers

    std::optional<QString> m_peripheral;
    std::optional<QString> m_writeChar;
    std::optional<OnceResume<Result>> m_connectWaiter;
    std::optional<OnceResume<Result>> m_discoverWaiter;
    int m_notifyReady = 0;
    uint8_t m_seq = 0;
    std::optional<QString> m_disconnecting;
    std::vector<OnceResume<bool>> m_settleWaiters;
    DisconnectFn m_onDisconnect;
    int m_mtu = 0;
    BLEScanner m_scanner;
    FrameInbox m_inbox;
    PenCommands m_commands{*this};
};
