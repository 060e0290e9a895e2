#include "sync/EngineAudio.h"

#include "audio/AudioTranscode.h"
#include "audio/Waveform.h"

#include <QFileInfo>

namespace EngineAudio {

void install(EngineHooks& hooks, const QString& archiveRoot)
{
    hooks.screenSpeech = &VoiceActivity::analyze;
    hooks.cacheWaveform = [archiveRoot](const QString& base, const QString& audioPath) {
        Waveform::load(base, audioPath, archiveRoot);
    };
    hooks.convertToM4a = [](const QString& cafPath) -> std::optional<double> {
        const QFileInfo caf(cafPath);
        if (AudioTranscode::duration(caf.path() + u'/' + caf.completeBaseName() +
                                     QStringLiteral(".m4a")))
            return std::nullopt;
        return AudioTranscode::toM4A(cafPath).seconds;
    };
}

} // namespace EngineAudio
