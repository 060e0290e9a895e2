// The upload queue: the client, the queue itself, revocation and the two loops. Flushing is
// in UploadQueueFlush.cpp, status polling and the per-recording actions in
// UploadQueuePolling.cpp.

#include "cloud/UploadQueue.h"

#include "audio/AudioFileReader.h"
#include "audio/OggWrap.h"
#include "cloud/MindvaultError.h"
#include "sync/ArchiveScan.h"
#include "sync/EngineContext.h"
#include "sync/EngineHooks.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QCoro/QCoroSignal>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QTimeZone>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace {

QCoro::Task<Mindvault*> borrowVault(QPointer<UploadQueue> queue)
{
    if (!queue)
        co_return nullptr;
    co_return co_await queue->ensureVault();
}

std::chrono::milliseconds period(double seconds)
{
    return std::chrono::milliseconds(qint64(seconds * 1000));
}

} // namespace

UploadQueue::UploadQueue(EngineContext& engine, Timing timing, TokenStore store,
                         QNetworkAccessManager* nam, Mindvault::Timing vaultTiming, QObject* parent)
    : QObject(parent), m_engineRef(engine), m_engine(engine.lifetime()), m_timing(timing),
      m_store(std::move(store)), m_nam(nam), m_vaultTiming(vaultTiming)
{
    engine.addItemSource(m_book);
}

UploadQueue::~UploadQueue()
{
    // Every flow ends now, while everything it looks at still exists: from here on each counts
    // the queue as gone, the loops wake from their sleep and the requests on the wire fail at
    // once. A flow left waiting would keep its frame for good.
    m_closing = true;
    stopBackgroundLoops();
    for (const std::shared_ptr<Mindvault>& client : QList{m_vault} + m_retired) {
        if (client)
            client->abortRequests();
    }
    if (m_engine.isNull())
        return;
    engine().removeItemSource(m_book);
    EngineHooks& hooks = engine().hooks();
    hooks.flushUploadQueue = nullptr;
    hooks.startBackgroundLoops = nullptr;
    hooks.stopBackgroundLoops = nullptr;
}

void UploadQueue::install()
{
    EngineHooks& hooks = engine().hooks();
    hooks.flushUploadQueue = [this](bool force) {
        return flushUploadQueue(force);
    };
    hooks.startBackgroundLoops = [this] {
        startBackgroundLoops();
    };
    hooks.stopBackgroundLoops = [this] {
        stopBackgroundLoops();
    };
}

// --- the client ---

QCoro::Task<Mindvault*> UploadQueue::ensureVault()
{
    QPointer<UploadQueue> self(this);
    while (m_connecting) {
        co_await qCoro(this, &UploadQueue::connectAttemptEnded);
        if (!self)
            co_return nullptr;
    }
    if (!alive())
        co_return nullptr;
    if (engine().needsSignIn()) {
        // A sign-in made in another process (the sign-in verb next to a headless engine)
        // replaces the rejected credential on disk; noticing it costs no request.
        const std::optional<QString> stored = m_store.get(u"refresh_token"_s);
        if (!stored || stored == m_rejectedToken)
            co_return nullptr;
        resume();
    }
    if (m_vault && m_connected)
        co_return m_vault.get();

    std::optional<MindvaultConfig> config;
    try {
        config = MindvaultConfig::load(engine().paths().mindvaultConfig());
    } catch (const std::exception&) {
        co_return nullptr;
    }
    if (!m_vault || !(m_vault->config() == *config)) {
        if (m_vault)
            m_retired.append(std::exchange(m_vault, nullptr));
        m_vault = std::make_shared<Mindvault>(*config, m_store, m_nam.data(), m_vaultTiming);
    }

    const std::shared_ptr<Mindvault> client = m_vault;
    m_connecting = true;
    bool ok = false;
    bool revoked = false;
    try {
        co_await client->connect();
        ok = true;
    } catch (const MindvaultError& e) {
        revoked = e.kind() == MindvaultError::Kind::sessionRevoked;
    } catch (const std::exception&) {
    }
    if (!self)
        co_return nullptr;
    m_connecting = false;
    Q_EMIT connectAttemptEnded();
    if (!self || !alive())
        co_return nullptr;
    if (ok) {
        m_connected = true;
        if (client->credentialWriteFailed()) {
            engine().log(u"凭据文件："_s + m_store.path() +
                         u"刷新了登录，但新的登录凭据没能写进本机——下次刷新会被服务端判为失效。"_s);
        }
        co_return client.get();
    }
    if (revoked)
        markSessionRevoked(*client);
    co_return nullptr;
}

VaultProvider UploadQueue::provider()
{
    // The coroutine gets the pointer as a parameter: a capturing coroutine lambda would read
    // its captures from the std::function, which may be gone by the time it resumes.
    return [self = QPointer<UploadQueue>(this)] {
        return borrowVault(self);
    };
}

QCoro::Task<std::shared_ptr<Mindvault>> UploadQueue::uiVault(bool allowUnauthenticated)
{
    QPointer<UploadQueue> self(this);
    Mindvault* connected = co_await ensureVault();
    std::shared_ptr<Mindvault> client;
    if (!self || !alive())
        co_return client;
    if (connected) {
        client = m_vault;
    } else if (allowUnauthenticated) {
        try {
            const MindvaultConfig config =
                MindvaultConfig::load(engine().paths().mindvaultConfig());
            client = std::make_shared<Mindvault>(config, m_store, m_nam.data(), m_vaultTiming);
        } catch (const std::exception&) {
        }
    }
    co_return client;
}

// --- the queue ---

UploadQueue::LocalFiles UploadQueue::scanUploadable(const QString& folder)
{
    LocalFiles out;
    const SyncPlanner::Sizes m4a = ArchiveScan::sizes(folder, u"m4a"_s);
    for (auto it = m4a.cbegin(); it != m4a.cend(); ++it)
        out.insert(it.key(), {it.value(), u"m4a"_s});
    const SyncPlanner::Sizes ogg = ArchiveScan::sizes(folder, u"ogg"_s);
    for (auto it = ogg.cbegin(); it != ogg.cend(); ++it)
        out.insert(it.key(), {it.value(), u"ogg"_s});
    return out;
}

void UploadQueue::rebuildUploadQueue(const LocalFiles& local, const SyncManifest& manifest)
{
    m_book.rebuild(local, manifest);
}

void UploadQueue::noteServiceState(const QString& base, const SyncPlanner::VaultState& state)
{
    m_book.setVaultState(base, state);
}

void UploadQueue::noteSpeakersNamed(const QString& transcriptId, int unconfirmed)
{
    m_book.setUnconfirmedSpeakers(transcriptId, unconfirmed);
    if (alive())
        engine().refreshLocalView();
}

QString UploadQueue::localPath(const QString& base, const QString& ext) const
{
    return engine().paths().dest() + u'/' + base + u'.' + ext;
}

std::optional<double> UploadQueue::durationOf(const QString& base, const QString& ext) const
{
    // A pen recording's length is its packet count; the raw file says so without decoding.
    if (ext == u"ogg"_s) {
        const QFileInfo raw(engine().paths().rawPackets() + u'/' + base + u".opus"_s);
        if (raw.isFile() && raw.size() > 0)
            return OggWrap::durationSeconds(raw.size());
    }
    const auto reader = AudioFileReader::tryOpen(localPath(base, ext));
    if (!reader)
        return std::nullopt;
    return double(reader->length()) / reader->sampleRate();
}

QString UploadQueue::titleFor(const QString& base, const std::optional<QDateTime>& start) const
{
    if (!start)
        return u"录音 "_s + base;
    return u"录音 "_s + start->toLocalTime().toString(u"yyyy-MM-dd HH:mm"_s);
}

// --- sign-in ---

void UploadQueue::markSessionRevoked()
{
    markSessionRevoked(std::nullopt);
}

void UploadQueue::markSessionRevoked(const Mindvault& client)
{
    markSessionRevoked(client.refusedRefreshToken());
}

void UploadQueue::markSessionRevoked(std::optional<QString> refusedToken)
{
    if (!alive() || engine().needsSignIn())
        return;
    EngineContext& e = engine();
    e.setNeedsSignIn(true);
    m_connected = false;
    m_rejectedToken = refusedToken ? refusedToken : m_store.get(u"refresh_token"_s);
    m_book.forgetAttempts();
    e.setUploadBlocked(u"推送暂停：登录已失效（"_s + QString::number(m_book.queue().size()) +
                       u" 条在等）。在网页或别的设备上点「退出登录」会连带让这里失效，"
                       u"重新登录一次，这些会自动推上去"_s);
    e.log(u"登录已失效（服务端不认这个刷新令牌），推送暂停，等重新登录。"
          u"常见原因：在网页上退出登录会让所有设备一起失效"_s);
    e.refreshLocalView();
}

void UploadQueue::signedOut()
{
    if (m_vault)
        m_retired.append(std::exchange(m_vault, nullptr));
    m_connected = false;
}

void UploadQueue::signedInAgain()
{
    if (!alive())
        return;
    resume();
    retryUploads();
}

void UploadQueue::resume()
{
    EngineContext& e = engine();
    e.setUploadBlocked(std::nullopt);
    e.setNeedsSignIn(false);
    m_connected = false; // the new credential is on disk; the next use connects with it
    m_rejectedToken.reset();
    e.log(u"已重新登录，开始补推积压的录音"_s);
}

// --- background loops ---

void UploadQueue::startBackgroundLoops()
{
    startVaultPolling();
    startUploadRetry();
}

void UploadQueue::startVaultPolling()
{
    pollLoop(++m_pollGeneration);
}

void UploadQueue::startUploadRetry()
{
    retryLoop(++m_retryGeneration);
}

void UploadQueue::stopBackgroundLoops()
{
    ++m_pollGeneration;
    ++m_retryGeneration;
    m_loopSleep.wakeAll();
}

QCoro::Task<> UploadQueue::pollLoop(int generation)
{
    QPointer<UploadQueue> self(this);
    const auto running = [&] {
        const UploadQueue* q = self.data();
        return q != nullptr && q->alive() && q->m_pollGeneration == generation;
    };
    while (running()) {
        const SyncManifest manifest = SyncManifest::load(engine().paths().manifest());
        co_await refreshVaultStatus(manifest, pollLimit);
        if (!running())
            co_return;
        co_await m_loopSleep.sleep(period(m_timing.pollPeriod));
    }
}

QCoro::Task<> UploadQueue::retryLoop(int generation)
{
    QPointer<UploadQueue> self(this);
    const auto running = [&] {
        const UploadQueue* q = self.data();
        return q != nullptr && q->alive() && q->m_retryGeneration == generation;
    };
    while (true) {
        co_await m_loopSleep.sleep(period(m_timing.retryPeriod));
        if (!running())
            co_return;
        co_await flushUploadQueue(false);
        if (!running())
            co_return;
    }
}
