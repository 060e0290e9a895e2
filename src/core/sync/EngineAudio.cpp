#include "sync/EngineAudio.h"

#include "audio/AudioTranscode.h"
#include "audio/Waveform.h"

namespace EngineAudio {

void install(EngineHooks& hooks, const QString& archiveRoot)
{
    hooks.screenSpeech = &VoiceActivity::analyze;
    hooks.cacheWaveform = [archiveRoot](const QString& base, const QString& audioPath) {
        Waveform::load(base, audioPath, archiveRoot);
    };
    hooks.convertToM4a = [](const QString& cafPath) {
        return AudioTranscode::toM4A(cafPath).seconds;
    };
}

} // namespace EngineAudio
