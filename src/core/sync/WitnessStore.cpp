#include "sync/WitnessStore.h"

#include "sync/FileError.h"
#include "sync/SyncManifest.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Evidence is trusted within half an hour of the name's time.
constexpr double witnessTolerance = 1800;

} // namespace

WitnessStore::WitnessStore(QString path, LogFn log) : m_path(std::move(path)), m_log(std::move(log))
{}

void WitnessStore::load()
{
    if (std::optional<LiveWitness::Map> loaded = LiveWitness::loadFile(m_path))
        m_witnesses = std::move(*loaded);
}

void WitnessStore::save()
{
    try {
        LiveWitness::saveFile(m_path, m_witnesses);
    } catch (const FileError& e) {
        // The map stays in memory and is written whole at the next addition.
        m_log(u"现场证据没能存下来："_s + e.description());
    }
}

void WitnessStore::observe(std::optional<uint8_t> status, const std::optional<QString>& current,
                           const QDateTime& at)
{
    const std::optional<QDateTime> before = m_lastNotRecordingAt;
    const LiveWitness::Observation seen =
        LiveWitness::observe(status, current, at, m_lastNotRecordingAt, m_witnesses);
    m_lastNotRecordingAt = seen.lastNotRecordingAt;
    if (!seen.addedBase)
        return;
    save();
    m_log(u"记下现场证据："_s + *seen.addedBase + u" 此刻正在录"_s +
          (before ? u"，而 "_s + SyncManifest::stamp(*before) + u" 那次还没在录"_s : QString()));
}

Continuation::TrueStart WitnessStore::trueStart(const QString& base, double durationSec)
{
    const auto it = m_witnesses.find(base);
    const std::optional<LiveWitness> witness =
        it == m_witnesses.end() ? std::nullopt : std::optional<LiveWitness>(it->second);
    const Continuation::TrueStart result =
        Continuation::trueStart(base, witness, durationSec, witnessTolerance);
    if (result.corrected && result.at) {
        m_log(base + u" 的文件名时刻跟现场证据对不上（笔的时钟不准），"_s + u"改按证据推定为 "_s +
              SyncManifest::stamp(*result.at));
    }
    return result;
}
