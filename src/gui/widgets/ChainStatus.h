#pragma once

#include "RecordingActivity.h"
#include "sync/RecordingItem.h"

#include <QString>
#include <optional>

enum class LinkState { done, active, pending, failed, skipped };

// How far one recording has come along its five links: the pen, the local archive, the
// service, the transcript and the analysis, each with a state and a short note.
struct ChainStatus {
    LinkState device = LinkState::pending;
    LinkState disk = LinkState::pending;
    LinkState vault = LinkState::pending;
    LinkState transcript = LinkState::pending;
    LinkState analysis = LinkState::pending;
    QString deviceNote;
    QString diskNote;
    QString vaultNote;
    QString transcriptNote;
    QString analysisNote;

    ChainStatus() = default;
    // activity: AppModel::activity(item), when the engine is working on it.
    ChainStatus(const RecordingItem& item, const std::optional<RecordingActivity>& activity);

    bool operator==(const ChainStatus&) const = default;

    // A byte count as a file size ("12 KB", "1.2 MB", "1.23 GB"); 0 gives "—".
    static QString bytes(qint64 count);
};
