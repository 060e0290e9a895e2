// Live evidence of when recordings started, kept by the engine.

#include "sync/SyncEngine.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Evidence is trusted within half an hour of the name's time.
constexpr double witnessTolerance = 1800;

} // namespace

void SyncEngine::loadWitnesses()
{
    if (std::optional<LiveWitness::Map> loaded = LiveWitness::loadFile(m_paths.witnesses()))
        witnesses = std::move(*loaded);
}

void SyncEngine::saveWitnesses()
{
    try {
        LiveWitness::saveFile(m_paths.witnesses(), witnesses);
    } catch (const FileError& e) {
        // The map stays in memory and is written whole at the next addition.
        log(u"现场证据没能存下来："_s + e.description());
    }
}

void SyncEngine::noteLiveObservation()
{
    const std::optional<QDateTime> before = lastNotRecordingAt;
    const LiveWitness::Observation seen =
        LiveWitness::observe(lastStatus, lastCurrent, now(), lastNotRecordingAt, witnesses);
    lastNotRecordingAt = seen.lastNotRecordingAt;
    if (!seen.addedBase)
        return;
    saveWitnesses();
    log(u"记下现场证据："_s + *seen.addedBase + u" 此刻正在录"_s +
        (before ? u"，而 "_s + SyncManifest::stamp(*before) + u" 那次还没在录"_s : QString()));
}

Continuation::TrueStart SyncEngine::trueStart(const QString& base, double durationSec)
{
    const auto it = witnesses.find(base);
    const std::optional<LiveWitness> witness =
        it == witnesses.end() ? std::nullopt : std::optional<LiveWitness>(it->second);
    const Continuation::TrueStart result =
        Continuation::trueStart(base, witness, durationSec, witnessTolerance);
    if (result.corrected && result.at) {
        log(base + u" 的文件名时刻跟现场证据对不上（笔的时钟不准），"_s + u"改按证据推定为 "_s +
            SyncManifest::stamp(*result.at));
    }
    return result;
}
