#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// One entry of the upload queue.
struct PendingUpload {
    QString base;
    qint64 oggBytes = 0; // size of the file to upload
    int attempts = 0;
    std::optional<QString> lastError;
    QDateTime nextAttempt; // not to be tried before this time

    const QString& id() const { return base; }
    bool operator==(const PendingUpload&) const = default;
};
