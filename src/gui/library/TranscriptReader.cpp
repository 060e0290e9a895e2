#include "library/TranscriptReader.h"

#include "cloud/Mindvault.h"
#include "common/Error.h"

#include <QPointer>

namespace {

QString reasonOf(const std::exception& e)
{
    if (const auto* k = dynamic_cast<const KestrelError*>(&e)) {
        return k->description();
    }
    return QStringLiteral("读取失败：") + QString::fromLocal8Bit(e.what());
}

const QString noVault = QStringLiteral("还没登录Mindvault，读不到转写。");

} // namespace

int TranscriptReader::Transcript::unconfirmed() const
{
    return int(std::count_if(speakers.begin(), speakers.end(),
                             [](const SpeakerRow& s) { return !s.confirmed; }));
}

QString TranscriptReader::Transcript::nameOf(const QString& label) const
{
    for (const SpeakerRow& s : speakers) {
        if (s.label == label && s.inferredIdentity && !s.inferredIdentity->isEmpty()) {
            return *s.inferredIdentity;
        }
    }
    return label;
}

TranscriptReader::TranscriptReader(VaultFn vault, QObject* parent)
    : TranscriptReader(std::move(vault), {}, parent)
{}

TranscriptReader::TranscriptReader(VaultFn vault, StoredFn stored, QObject* parent)
    : QObject(parent), m_vault(std::move(vault)), m_stored(std::move(stored))
{}

void TranscriptReader::request(const QString& transcriptId)
{
    if (transcriptId.isEmpty() || m_cache.contains(transcriptId) ||
        m_loading.contains(transcriptId)) {
        return;
    }
    m_loading.insert(transcriptId);
    m_failures.remove(transcriptId);
    if (m_stored) {
        if (std::optional<Transcript> stored = m_stored(transcriptId)) {
            m_cache.insert(transcriptId, std::move(*stored));
            Q_EMIT loaded(transcriptId);
        }
    }
    read(transcriptId);
}

const TranscriptReader::Transcript* TranscriptReader::cached(const QString& transcriptId) const
{
    const auto it = m_cache.constFind(transcriptId);
    return it == m_cache.constEnd() ? nullptr : &*it;
}

std::optional<QString> TranscriptReader::failure(const QString& transcriptId) const
{
    const auto it = m_failures.constFind(transcriptId);
    return it == m_failures.constEnd() ? std::nullopt : std::optional(*it);
}

void TranscriptReader::clientChanged()
{
    ++m_generation;
    m_cache.clear();
    m_failures.clear();
    m_loading.clear();
    m_people.reset();
    Q_EMIT reset();
}

QCoro::Task<> TranscriptReader::read(QString transcriptId)
{
    QPointer<TranscriptReader> self(this);
    const int generation = m_generation;
    const std::shared_ptr<Mindvault> vault = m_vault ? m_vault() : nullptr;
    std::optional<QString> reason;
    Transcript transcript;
    if (!vault) {
        reason = noVault;
    } else {
        try {
            transcript.segments = co_await vault->segments(transcriptId);
            transcript.speakers = co_await vault->speakers(transcriptId);
            transcript.shares = SpeakerStats::shares(transcript.segments);
        } catch (const std::exception& e) {
            reason = reasonOf(e);
        }
    }
    if (!self || generation != m_generation) {
        co_return;
    }
    m_loading.remove(transcriptId);
    if (reason && m_cache.contains(transcriptId)) {
        co_return; // the stored copy stays
    }
    if (reason) {
        m_failures.insert(transcriptId, *reason);
        Q_EMIT failed(transcriptId, *reason);
        co_return;
    }
    m_cache.insert(transcriptId, std::move(transcript));
    Q_EMIT loaded(transcriptId);
    Q_EMIT fetched(transcriptId);
}

QCoro::Task<std::optional<QString>> TranscriptReader::nameSpeaker(QString transcriptId,
                                                                  SpeakerRow row, QString identity,
                                                                  std::optional<QString> profile)
{
    QPointer<TranscriptReader> self(this);
    const int generation = m_generation;
    identity = identity.trimmed();
    if (identity.isEmpty()) {
        co_return QStringLiteral("名字不能是空的。");
    }
    const std::shared_ptr<Mindvault> vault = m_vault ? m_vault() : nullptr;
    if (!vault) {
        co_return noVault;
    }
    QList<SpeakerRow> speakers;
    try {
        co_await vault->assignSpeaker(transcriptId, row, identity, profile);
        speakers = co_await vault->speakers(transcriptId);
    } catch (const std::exception& e) {
        co_return reasonOf(e);
    }
    if (!self || generation != m_generation) {
        co_return std::nullopt;
    }
    Q_EMIT speakersNamed(transcriptId, Transcript{{}, speakers, {}}.unconfirmed());
    if (auto it = m_cache.find(transcriptId); it != m_cache.end()) {
        it->speakers = speakers;
        Q_EMIT loaded(transcriptId);
        Q_EMIT fetched(transcriptId);
    }
    co_return std::nullopt;
}

QCoro::Task<QList<PersonProfile>> TranscriptReader::people()
{
    if (m_people) {
        co_return *m_people;
    }
    QPointer<TranscriptReader> self(this);
    const int generation = m_generation;
    const std::shared_ptr<Mindvault> vault = m_vault ? m_vault() : nullptr;
    if (!vault) {
        co_return {};
    }
    QList<PersonProfile> found;
    try {
        found = co_await vault->personProfiles(200);
    } catch (const std::exception&) {
        co_return {}; // only a convenience for typing names; a failure offers no list
    }
    if (self && generation == m_generation) {
        m_people = found;
    }
    co_return found;
}
