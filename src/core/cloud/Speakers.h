#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

// Transcript and speaker records read from the service's tables.

struct TranscriptSegment {
    QString id;
    QString speaker; // label, e.g. "S1"
    QString text;
    int64_t startMs = 0;
    int64_t endMs = 0;

    double startSeconds() const { return double(startMs) / 1000.0; }
    int64_t durationMs() const
    {
        if (endMs <= startMs)
            return 0;
        // In unsigned arithmetic: the service's extremes must not overflow the difference.
        const uint64_t d = uint64_t(endMs) - uint64_t(startMs);
        return d > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(d);
    }
    bool operator==(const TranscriptSegment&) const = default;
};

// One speaker of one transcript.
struct SpeakerRow {
    QString id;
    QString label;
    std::optional<QString> inferredIdentity;
    bool confirmed = false;
    std::optional<QString> userProfileId;
    bool operator==(const SpeakerRow&) const = default;
};

// An organisation member's profile.
struct PersonProfile {
    QString id;
    QString displayName;
    bool operator==(const PersonProfile&) const = default;
};

struct ProjectEntry {
    QString id;
    QString name;
    bool operator==(const ProjectEntry&) const = default;
};

struct SpeakerShare {
    QString label;
    double seconds = 0;
    double fraction = 0;
    bool operator==(const SpeakerShare&) const = default;
};

// One sentence that shows a speaker's voice.
struct SpeakerSample {
    QString label;
    QString text;
    int64_t startMs = 0;

    double startSeconds() const { return double(startMs) / 1000.0; }
    bool operator==(const SpeakerSample&) const = default;
};

namespace SpeakerStats {
// Speaking time per non-empty label, largest share first.
QList<SpeakerShare> shares(const QList<TranscriptSegment>& segments);
} // namespace SpeakerStats
