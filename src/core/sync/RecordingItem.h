#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// One row of the recording list. Identity is the base name.
struct RecordingItem {
    QString base;
    int durationSec = 0;
    std::optional<uint32_t> deviceSize; // absent: not on the pen
    std::optional<qint64> localBytes;   // absent: not archived
    std::optional<QString> sessionId;
    std::optional<QString> vaultStatus;
    std::optional<QString> transcriptId;
    std::optional<QString> lastError;
    int uploadAttempts = 0;
    std::optional<QString> plannedTitle;
    std::optional<QString> plannedProjectId;
    std::optional<QString> vaultErrorCode;
    std::optional<QString> vaultTitle;
    bool starred = false;
    bool dismissed = false;
    bool serverGone = false;
    int unconfirmedSpeakers = 0;
    std::optional<double> skippedShortSeconds;
    bool pendingDeviceDelete = false;

    RecordingItem() = default;
    RecordingItem(QString base, int durationSec, std::optional<uint32_t> deviceSize = {},
                  std::optional<qint64> localBytes = {}, std::optional<QString> sessionId = {},
                  std::optional<QString> vaultStatus = {}, std::optional<QString> transcriptId = {},
                  std::optional<QString> lastError = {},
                  std::optional<QString> vaultErrorCode = {});

    bool operator==(const RecordingItem&) const = default;

    const QString& id() const { return base; }
    bool onDevice() const { return deviceSize.has_value(); }
    bool onDisk() const { return localBytes.has_value(); }
    bool inVault() const;
};
