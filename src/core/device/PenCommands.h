#pragma once

#include "device/DownloadResult.h"
#include "device/FileEntry.h"
#include "device/PenReadings.h"
#include "device/Proto.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class BLEClient;

// The request/response conversations with the pen (battery, list, download, delete, ...), built
// on the device client's link and frames. Any throwing flow throws BLEError or ProtoError. The
// client must outlive the flows it runs.
class PenCommands {
public:
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

    explicit PenCommands(BLEClient& client) : m_client(client) {}
    PenCommands(const PenCommands&) = delete;
    PenCommands& operator=(const PenCommands&) = delete;

    QCoro::Task<std::optional<uint8_t>> battery(double timeout);
    QCoro::Task<std::optional<Capacity>> capacity(double timeout);
    QCoro::Task<std::optional<QString>> firmware(double timeout);
    QCoro::Task<std::optional<uint8_t>> gain(double timeout);
    QCoro::Task<std::optional<uint8_t>> recordStatus(double timeout);
    // Absent when there is no answer or no file is being recorded.
    QCoro::Task<std::optional<QString>> currentFilename(double timeout);
    // Sets the pen's clock to this date in the local time zone; no answer is awaited.
    void setTime(const QDateTime& date);
    // Lists the pen's files. A list cut short (idle after some data, hard time-out, or a dropped
    // link) returns what came with gotDone false.
    QCoro::Task<FileList> fileList(double idleFallback, double hardTimeout);
    // Downloads one file, trying the candidate names in order (passing over names too long for
    // the request), resuming stalls. Never throws: a link that is gone, or no candidate that
    // fits the request, gives a result with `disconnected`.
    QCoro::Task<DownloadResult> download(QStringList candidates, std::optional<uint32_t> expectSize,
                                         double idleTimeout, std::optional<int> maxResumes,
                                         QByteArray resumeFrom, ProgressFn onProgress);
    // Deletes a file and verifies its absence from a fresh list (the pen's own acknowledgement
    // is reported, not trusted). Names too long for the request are passed over. Throws
    // ProtoError when no name fits, or notConnected.
    QCoro::Task<DeleteOutcome> deleteOne(FileEntry entry, double timeout);

    // maxResumes when none is given: max(8, expectSize MiB × 2).
    static int defaultMaxResumes(std::optional<uint32_t> expectSize);

private:
    QCoro::Task<std::optional<Proto::Frame>> request(uint8_t type, uint8_t cmd, uint8_t answer,
                                                     double timeout);
    // Sends, reporting false instead of throwing when the link is gone.
    bool trySendRaw(const QByteArray& bytes);

    BLEClient& m_client;
};
