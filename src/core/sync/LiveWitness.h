#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

// Evidence of when a recording really started: the app saw the pen recording it.
struct LiveWitness {
    std::optional<QDateTime> notRecordingAt; // last "not recording" read before the sighting
    QDateTime firstSeenLiveAt;

    bool operator==(const LiveWitness&) const = default;

    using Map = std::map<QString, LiveWitness>; // normalized base -> evidence

    // The evidence file ("导入/录音时刻证据.json"): one object keyed by base; dates are seconds
    // since 2001-01-01 00:00:00 UTC; "notRecordingAt" omitted when absent.
    static std::optional<Map> decodeFile(const QByteArray& json);
    static QByteArray encodeFile(const Map& witnesses);
    // Absent when the file is missing or is not a JSON object; a damaged entry is left out.
    static std::optional<Map> loadFile(const QString& path);
    // Atomic; throws FileError when the file cannot be written (the old one then stands).
    // Entries of the file that the map lacks, readable or not, are kept.
    static void saveFile(const QString& path, const Map& witnesses);

    // The pure part of noting a status read. status 2 moves lastNotRecordingAt to now;
    // status 1 or 3 with a current name adds a witness for its base unless one exists (the
    // first sighting wins). Everything else records nothing.
    struct Observation {
        std::optional<QDateTime> lastNotRecordingAt;
        std::optional<QString> addedBase; // set when a witness was added to the map
    };
    static Observation observe(std::optional<uint8_t> status, const std::optional<QString>& current,
                               const QDateTime& now,
                               const std::optional<QDateTime>& lastNotRecordingAt, Map& witnesses);
};
