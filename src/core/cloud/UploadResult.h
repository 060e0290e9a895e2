#pragma once

#include <QString>

// The outcome of one recording upload.
struct UploadResult {
    QString sessionId;
    // Chunks uploaded, or the service's expected chunk count when nothing was sent.
    int chunks = 0;
    // The service already had this recording; nothing was re-sent.
    bool alreadyDone = false;

    bool operator==(const UploadResult&) const = default;
};
