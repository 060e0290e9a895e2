#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The user's pen-cleanup and upload-threshold settings ("out/swift-settings.json").
struct CleanupSettings {
    bool deleteAfterSync = false;
    int coolingDays = 3;
    int minUploadSeconds = 300; // 0 or less: no threshold

    bool operator==(const CleanupSettings&) const = default;

    // All three keys are required: a file lacking one is not a partial update but not ours.
    static std::optional<CleanupSettings> decode(const QByteArray& json);
    QByteArray encode() const;

    // Defaults when the file is missing, unreadable or incomplete.
    static CleanupSettings load(const QString& path);
    // Atomic; throws FileError when the file cannot be written (the old one then stands).
    void save(const QString& path) const;
};
