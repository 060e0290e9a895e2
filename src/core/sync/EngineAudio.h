#pragma once

#include "sync/EngineHooks.h"

#include <QString>

// Connects the engine's audio hooks to the real tools: each archived recording is screened for
// speech and gets its waveform cached under the archive root, and recordings stranded as CAF
// files are converted to M4A at start.
namespace EngineAudio {

void install(EngineHooks& hooks, const QString& archiveRoot);

} // namespace EngineAudio
