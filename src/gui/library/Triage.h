#pragma once

#include <QString>
#include <optional>

struct RecordingItem;

// The one-line status of a recording in the list: which state wins when several apply, and how
// it is shown. Pure; the engine's current work comes in as busyBase.
namespace Triage {

// The colour family a status is shown in.
enum class Tone { ok, warn, bad, idle };

// Which filter class a recording falls in (the list header counts the three problem classes).
enum class Problem { none, failed, stuck, speakers };

struct Kind {
    enum class Case {
        deleting,   // queued for deletion from the pen
        processing, // the engine works on it, or nothing else applies
        recording,  // the pen is still recording it
        tooShort,   // below the upload threshold
        serverGone, // the service deleted its record
        noSpeech,   // the service found nobody speaking
        dismissed,  // failed, and the user chose to ignore it
        failed,     // transcription failed
        speakers,   // transcribed, speakers to confirm
        stuck,      // a push keeps failing
        queued,     // archived, waiting for its first push
        inVault,    // transcribed
        onDevice,   // only on the pen so far
    };

    Case value = Case::processing;
    int unconfirmed = 0; // for speakers

    QString text() const;
    // A freedesktop icon name for the status.
    QString icon() const;
    Tone tone() const;
    Problem problem() const;

    bool operator==(const Kind&) const = default;
};

Kind classify(const RecordingItem& item, const std::optional<QString>& busyBase);

} // namespace Triage
