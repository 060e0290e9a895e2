#pragma once

#include "cloud/Speakers.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One speaker of a stored transcript: the service's label and the name the user or the service
// gave it.
struct StoredSpeaker {
    QString label;
    std::optional<QString> name;
    bool confirmed = false;
    QString id; // the service's row, for naming it there
    bool operator==(const StoredSpeaker&) const = default;
};

// What the archive keeps of one recording's transcript.
struct StoredTranscript {
    QString base;
    QString transcriptId;
    std::optional<QString> title;
    QDateTime fetchedAt;
    // The service deleted the recording; this copy is all that is left.
    bool serviceDeleted = false;
    QList<TranscriptSegment> segments; // by start
    QList<StoredSpeaker> speakers;     // by label
    bool operator==(const StoredTranscript&) const = default;

    // The name to show for a label: the speaker's name, else the label itself.
    QString speakerName(const QString& label) const
    {
        for (const StoredSpeaker& s : speakers)
            if (s.label == label && s.name && !s.name->isEmpty())
                return *s.name;
        return label;
    }
};

// One segment that contains the searched text.
struct TranscriptHit {
    QString base;
    std::optional<QString> title;
    bool serviceDeleted = false;
    QString speaker; // the speaker's name, else the label
    QString text;    // the whole segment
    int64_t startMs = 0;
    // Where the first match lies in text (UTF-16 units).
    int matchStart = 0;
    int matchLength = 0;
    bool operator==(const TranscriptHit&) const = default;
};
