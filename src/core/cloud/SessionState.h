#pragma once

#include <QString>
#include <optional>

// A recording session as the service reports it.
struct SessionState {
    QString status; // "recording", "uploading", "processing", "ready", "failed", "deleted", ...;
                    // "未知" when the service sent none
    std::optional<QString> transcriptId; // the session's final transcript
    std::optional<QString> errorCode;    // the session's last error code

    bool operator==(const SessionState&) const = default;
};
