#include "sync/EngineAudio.h"

#include "audio/AudioTranscode.h"
#include "audio/Waveform.h"

#include <QFileInfo>
#include <cmath>

namespace EngineAudio {

namespace {

// AAC adds priming and padding of a few frames; a cut-short file misses far more.
constexpr double maxConvertedDrift = 0.5;

} // namespace

void install(EngineHooks& hooks, const QString& archiveRoot)
{
    hooks.screenSpeech = &VoiceActivity::analyze;
    hooks.cacheWaveform = [archiveRoot](const QString& base, const QString& audioPath) {
        Waveform::load(base, audioPath, archiveRoot);
    };
    hooks.convertToM4a = [](const QString& cafPath) {
        // An .m4a of the whole recording means the conversion ended and only the .caf was not
        // removed yet; one that does not read, or is shorter, was cut short and is made again.
        const QFileInfo caf(cafPath);
        const auto done = AudioTranscode::duration(caf.path() + u'/' + caf.completeBaseName() +
                                                   QStringLiteral(".m4a"));
        const auto source = AudioTranscode::duration(cafPath);
        if (done && source && std::abs(*done - *source) < maxConvertedDrift)
            return *done;
        return AudioTranscode::toM4A(cafPath).seconds;
    };
}

} // namespace EngineAudio
