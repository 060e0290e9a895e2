#pragma once

#include "device/CentralPort.h"
#include "device/FrameParser.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

// A simulated pen behind the Central port, on the caller's event loop: it advertises, accepts a
// connection, offers AE20 with AE21/AE22/AE23, answers every request of the pen protocol from
// its files and state, and injects faults. Described by a scenario (README.md in this folder).
class VirtualPen : public CentralPort {
    Q_OBJECT

public:
    struct ScenarioError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    struct Faults {
        QList<qint64> dropAfterBytes;       // k-th connection drops after that much file content
        QList<qint64> stallAfterBytes;      // k-th connection goes silent mid-transfer
        QStringList unknownNames;           // import answered with end code 1
        QStringList unanswered;             // "battery", "capacity", "firmware", "gain", "status",
                                            // "current", "list", "delete", "import"
        int crcDamageEvery = 0;             // damage the checksum of every n-th frame sent
        int garbageEvery = 0;               // three garbage bytes before every n-th frame sent
        QStringList undeletable;            // delete acknowledged with 0, file kept
        bool ignoreConnect = false;         // connection attempts never complete
        bool ignoreDiscovery = false;       // service discovery never answers
        QStringList missingCharacteristics; // e.g. "ae21": not offered
        std::optional<QString> subscribeError; // AE22 subscription fails with this text
        int disconnectConfirmMs = 0; // delay before a requested disconnection is confirmed
        int connectDelayMs = 0;      // delay before a connection completes
    };

    struct File {
        QString name; // as listed (at most 20 UTF-8 bytes show in the list)
        QByteArray content;
        uint32_t time = 0;   // seconds, as listed
        QStringList accepts; // names the pen answers to for import and delete; empty = name
    };

    // A request the pen received, for inspection.
    struct Request {
        uint8_t type = 0;
        uint8_t cmd = 0;
        QByteArray body;
        QString name;        // file name field, for file requests
        uint32_t offset = 0; // import offset
    };

    // scenario: the JSON object (README.md); baseDir resolves "source" paths.
    explicit VirtualPen(const nlohmann::json& scenario, const QString& baseDir = {},
                        QObject* parent = nullptr);
    static std::unique_ptr<VirtualPen> fromFile(const QString& path, QObject* parent = nullptr);
    static std::unique_ptr<VirtualPen> fromJson(const QByteArray& text, const QString& baseDir = {},
                                                QObject* parent = nullptr);
    ~VirtualPen() override;

    // Deterministic 40-byte packets, as "generate" makes them.
    static QByteArray generatePackets(int packets, uint32_t seed);
    // Listed duration for content without an explicit time: bytes ÷ 40 × 20 ms, rounded down.
    static uint32_t defaultTime(qint64 bytes);

    // --- inspection and control ---
    QString address() const { return m_address; }
    QString name() const { return m_name; }
    QList<File> files() const { return m_files; }
    QStringList fileNames() const;
    std::optional<QByteArray> fileContent(const QString& name) const;
    void addFile(const QString& name, const QByteArray& content,
                 std::optional<uint32_t> time = std::nullopt, const QStringList& accepts = {});
    bool removeFile(const QString& name);
    QStringList deletedNames() const { return m_deleted; }

    void setRecordStatus(std::optional<uint8_t> status) { m_recordStatus = status; }
    void setCurrentName(const QString& name) { m_currentName = name; }
    void setBattery(uint8_t value) { m_battery = value; }
    void setBytesPerSecond(int value);
    Faults& faults() { return m_faults; }

    // The last clock the app set, in local time.
    std::optional<QDateTime> lastSetTime() const { return m_lastSetTime; }
    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    int connectionCount() const { return m_connections; }
    // Writes longer than the link's maximum write length (a real stack refuses them).
    int oversizeWrites() const { return m_oversizeWrites; }
    bool isLinked() const { return m_linked; }
    qint64 contentBytesSent() const { return m_contentSentTotal; }

    // Radio state (CentralPort::poweredOn when on); a change is reported to the client.
    void setRadioState(int state);
    // Whether the pen advertises (it never does while connected).
    void setAdvertising(bool on);
    // Advertisement cadence of the pen, and extra devices without the service that advertise
    // at their own cadence (named "Other-N", random addresses, RSSI −70).
    void setAdvertiseInterval(int ms);
    void setOtherDevices(int count, int intervalMs);
    // Drops the link now, as if the pen went out of range.
    void dropLink(const QString& error = QStringLiteral("连接意外中断"));

    // --- CentralPort ---
    int state() const override { return m_radioState; }
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
    struct Transfer {
        QString name;
        qint64 pos = 0;
    };
    struct Chunk {
        QString characteristic;
        QByteArray bytes;
    };

    void later(int ms, std::function<void()> fn);
    void advertiseTick();
    void otherTick();
    void handleRequest(const Proto::Frame& frame);
    void answer(uint8_t type, uint8_t cmd, const QByteArray& body, uint8_t seq,
                const QString& characteristic);
    void queueFrame(QByteArray frame, const QString& characteristic);
    void pump();
    void schedulePump();
    bool fillTransfer();
    // The link's state gone at once, as when either side ends it.
    void forgetLink();
    void endLink(const std::optional<QString>& error);
    bool isUnanswered(const char* what) const;
    const File* findFile(const QString& name) const;
    void loadDeletions(const QString& path);
    void recordDeletion(const QString& name);
    qint64 limitFor(const QList<qint64>& list) const;

    // identity and state
    QString m_name;
    QString m_address;
    bool m_advertisesService = true;
    int m_rssi = -60;
    int m_mtu = 185;
    int m_bytesPerSecond = 0;
    int m_dataFrameBytes = 200;
    int m_listEntriesPerFrame = 8;
    std::optional<uint8_t> m_recordStatus = 2;
    QString m_currentName;
    uint8_t m_battery = 80;
    QString m_firmware;
    uint8_t m_gain = 2;
    uint32_t m_capRemain = 3000;
    uint32_t m_capTotal = 4000;
    QList<File> m_files;
    QStringList m_deleted;
    QString m_deletionsFile; // names deleted in earlier runs, one per line; empty: none kept
    Faults m_faults;
    std::optional<QDateTime> m_lastSetTime;
    QList<Request> m_requests;

    // radio and advertising
    int m_radioState = CentralPort::poweredOn;
    bool m_scanning = false;
    bool m_advertising = true;
    QTimer m_advTimer;
    QTimer m_otherTimer;
    int m_otherCount = 0;
    QList<std::pair<QString, QString>> m_others; // address, name
    int m_otherNext = 0;

    // link
    bool m_connecting = false;
    bool m_linked = false;
    int m_connections = 0; // connections made so far; the current one is number m_connections
    int m_linkGeneration = 0;
    QStringList m_subscribed;
    FrameParser m_requestParser{QStringLiteral("AE21")};
    std::optional<Transfer> m_transfer;
    qint64 m_contentSentLink = 0; // file content sent on the current link
    qint64 m_contentSentTotal = 0;
    bool m_stalledThisLink = false;
    bool m_dropPending = false;
    int m_framesSent = 0;
    int m_oversizeWrites = 0;
    int m_advIntervalMs = 100;
    int m_otherIntervalMs = 100;
    std::deque<Chunk> m_outgoing;
    QTimer m_pumpTimer;
    QElapsedTimer m_pumpClock;
    double m_budget = 0;
};
