#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The outcome of one file transfer.
struct DownloadResult {
    QString filename;               // the candidate name used last
    QByteArray data;                // everything received, the resume prefix included
    std::optional<uint8_t> endCode; // code of the last end frame; absent if none came
    double seconds = 0;             // since the current candidate's first request
    int resumes = 0;                // resume requests sent for the current candidate
    QStringList tried;              // candidate names requested, in order
    bool disconnected = false;      // a request could not be written, or the name did not fit

    // The pen reported completion and sent content.
    bool ok() const { return endCode == 0 && !data.isEmpty(); }
    // KiB per second over `seconds`; 0 when no time passed.
    double kbps() const { return seconds > 0 ? double(data.size()) / 1024.0 / seconds : 0.0; }
};
