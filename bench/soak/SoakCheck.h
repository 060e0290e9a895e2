#pragma once

#include "SoakRecording.h"
#include "sync/SyncPaths.h"

#include <QList>
#include <QStringList>
#include <nlohmann/json.hpp>

// The end-of-soak invariants, one sentence per breach: every recording put on the pen is in
// the ledger exactly once with its raw bytes archived unchanged and an Ogg file beside them;
// the pen lost nothing it was not told to delete; every recording long enough to push has
// exactly one session at the service, holding bytes, and no short one has any.
namespace SoakCheck {

struct Inputs {
    QList<SoakRecording> recordings;
    SyncPaths paths;
    QStringList penFiles;    // what the pen still holds
    QStringList penDeleted;  // what the engine deleted from it
    nlohmann::json sessions; // the stand-in's sessions (StandInProcess::sessions)
    int minUploadSeconds = 0;
};

QStringList problems(const Inputs& in);

} // namespace SoakCheck
