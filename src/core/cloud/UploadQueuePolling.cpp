// The upload queue's status polling and the user's per-recording pushes.

#include "cloud/MindvaultError.h"
#include "cloud/UploadQueue.h"
#include "sync/Describe.h"
#include "sync/EngineContext.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

// The service will not change these any more: polling them again would only cost requests.
bool isTerminal(const SyncPlanner::VaultState& state)
{
    return (state.status == u"ready"_s && state.transcriptId) || state.status == u"failed"_s ||
           state.status == u"deleted"_s;
}

} // namespace

QCoro::Task<> UploadQueue::refreshVaultStatus(SyncManifest manifest, int limit)
{
    if (m_polling)
        co_return; // a round is already under way; its answers are as fresh as ours
    QPointer<UploadQueue> self(this);
    const Mindvault* connected = co_await ensureVault();
    if (!self || !alive() || !connected || m_polling)
        co_return;
    const std::shared_ptr<Mindvault> client = m_vault;
    m_polling = true;

    QSet<QString> terminal;
    const QHash<QString, SyncPlanner::VaultState>& states = m_book.vaultStates();
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        if (isTerminal(it.value()))
            terminal.insert(it.key());
    }
    const QList<SyncPlanner::PollTarget> targets = SyncPlanner::pollTargets(
        manifest.uploaded, terminal, manifest.missingOnServer, manifest.pollFailures, limit);

    for (const SyncPlanner::PollTarget& target : targets) {
        enum class Answer { state, gone, revoked, failed };
        Answer answer = Answer::failed;
        SessionState state;
        try {
            state = co_await client->sessionState(target.sessionId);
            answer = Answer::state;
        } catch (const MindvaultError& e) {
            if (e.kind() == MindvaultError::Kind::notFound)
                answer = Answer::gone;
            else if (e.kind() == MindvaultError::Kind::sessionRevoked)
                answer = Answer::revoked;
        } catch (const std::exception&) {
        }
        if (!self || !alive())
            co_return;
        EngineContext& e = engine();
        if (answer == Answer::revoked) {
            m_polling = false;
            markSessionRevoked(*client);
            co_return;
        }
        // A repush while we waited moved the recording to a new session: this answer is stale.
        const SyncManifest now = SyncManifest::load(e.paths().manifest());
        const auto current = now.uploaded.find(target.base);
        if (current == now.uploaded.end() || current->second != target.sessionId)
            continue;

        const QString& base = target.base;
        switch (answer) {
        case Answer::state:
            m_book.setVaultState(base, {state.status, state.transcriptId, state.errorCode});
            if (now.pollFailures.count(base)) {
                SyncManifest::modify(e.paths().manifest(), e.syncLog(),
                                     [&](SyncManifest& m) { m.pollFailures.erase(base); });
            }
            break;
        case Answer::gone:
            SyncManifest::modify(e.paths().manifest(), e.syncLog(), [&](SyncManifest& m) {
                m.missingOnServer[base] = SyncManifest::stamp(e.now());
            });
            m_book.setVaultState(base, {u"deleted"_s, std::nullopt, std::nullopt});
            e.log(base + u" 在Mindvault里已不存在（服务端回 404），不再查它；本地留档不动"_s);
            break;
        case Answer::failed: {
            int failures = 0;
            SyncManifest::modify(e.paths().manifest(), e.syncLog(),
                                 [&](SyncManifest& m) { failures = ++m.pollFailures[base]; });
            if (failures == SyncPlanner::pollGiveUpAfter) {
                e.log(base + u" 连续 "_s + QString::number(SyncPlanner::pollGiveUpAfter) +
                      u" 次查不到状态，先不查了；下次它有新动静（重推/重新登录）会重来"_s);
            }
            break;
        }
        case Answer::revoked:
            break;
        }
    }

    co_await fetchSpeakersAndTitles(client);
    if (!self)
        co_return;
    m_polling = false;
    if (alive())
        engine().refreshLocalView();
}

QCoro::Task<> UploadQueue::fetchSpeakersAndTitles(std::shared_ptr<Mindvault> client)
{
    QPointer<UploadQueue> self(this);
    // Only what may have changed: transcripts not described yet, and speaker counts that still
    // wait for a confirmation on the web. The rest would cost requests for the same answers.
    QStringList fresh;
    QStringList counted;
    for (const SyncPlanner::VaultState& state : m_book.vaultStates()) {
        if (!state.transcriptId)
            continue;
        const QString& id = *state.transcriptId;
        if (!m_described.contains(id)) {
            if (!fresh.contains(id))
                fresh.append(id);
        } else if (m_book.unconfirmedSpeakers().value(id, 0) > 0 && !counted.contains(id)) {
            counted.append(id);
        }
    }
    counted += fresh;
    if (counted.isEmpty())
        co_return;
    std::sort(fresh.begin(), fresh.end());
    std::sort(counted.begin(), counted.end());
    try {
        const QMap<QString, int> counts = co_await client->unconfirmedSpeakerCounts(counted);
        if (!self || !alive())
            co_return;
        // The query covers every id asked: one without a row has nothing to confirm.
        for (const QString& id : counted)
            m_book.setUnconfirmedSpeakers(id, counts.value(id, 0));
        if (fresh.isEmpty())
            co_return;
        const QMap<QString, QString> titles = co_await client->transcriptTitles(fresh);
        if (!self || !alive())
            co_return;
        for (auto it = titles.cbegin(); it != titles.cend(); ++it)
            m_book.setTitle(it.key(), it.value());
        for (const QString& id : fresh)
            m_described.insert(id);
    } catch (const MindvaultError& e) {
        if (self && alive() && e.kind() == MindvaultError::Kind::sessionRevoked)
            markSessionRevoked(*client);
    } catch (const std::exception&) {
        // Counts and titles are decoration; the next round asks again.
    }
}

void UploadQueue::clearPollGiveUp(const QString& base)
{
    if (!alive())
        return;
    EngineContext& e = engine();
    const SyncManifest manifest = SyncManifest::load(e.paths().manifest());
    if (!manifest.pollFailures.count(base) && !manifest.missingOnServer.count(base))
        return;
    SyncManifest::modify(e.paths().manifest(), e.syncLog(), [&](SyncManifest& m) {
        m.pollFailures.erase(base);
        m.missingOnServer.erase(base);
    });
}

QCoro::Task<> UploadQueue::repushFailed(QString base)
{
    return manualPush(std::move(base), true);
}

QCoro::Task<> UploadQueue::pushNow(QString base)
{
    return manualPush(std::move(base), false);
}

QCoro::Task<> UploadQueue::manualPush(QString base, bool newRound)
{
    QPointer<UploadQueue> self(this);
    clearPollGiveUp(base);
    const Mindvault* connected = co_await ensureVault();
    if (!self || !alive())
        co_return;
    EngineContext& e = engine();
    if (!connected) {
        e.log(base + u" 失败：没接通Mindvault"_s);
        co_return;
    }
    const std::shared_ptr<Mindvault> client = m_vault;

    // The archived Ogg stream; ".opus" is the older name of the same container in this folder
    // (the raw packet files elsewhere are not Ogg and are never pushed as such).
    QString path;
    for (const QString& ext : {u"ogg"_s, u"opus"_s}) {
        if (QFileInfo(localPath(base, ext)).isFile()) {
            path = localPath(base, ext);
            break;
        }
    }
    if (path.isEmpty()) {
        e.log(base + u" 失败：本地没有 ogg"_s);
        co_return;
    }

    QString id = u"mac-ble-"_s + base;
    int round = 0;
    if (newRound) {
        SyncManifest::modify(e.paths().manifest(), e.syncLog(),
                             [&](SyncManifest& m) { round = ++m.repushRounds[base]; });
        e.setLastSummary(u"重推第 "_s + QString::number(round) + u" 轮"_s);
        id += u"-r"_s + QString::number(round);
    } else {
        e.setLastSummary(u"手动推送"_s);
    }

    const double seconds = durationOf(base, QFileInfo(path).suffix().toLower()).value_or(0);
    const Meta meta = metaFor(base, seconds);

    Attempt answer;
    try {
        const AudioSource audio = AudioSource::fromFile(path);
        answer = co_await attempt(client, audio, seconds, id, u"audio/ogg"_s, meta);
    } catch (const std::exception& err) {
        answer.error = describe(err); // the file could not be opened
    }
    if (!self || !alive())
        co_return;
    endUploadingPhase();
    if (answer.revoked) {
        markSessionRevoked(*client);
        co_return;
    }
    if (answer.error) {
        engine().log(*answer.error);
        engine().refreshLocalView();
        co_return;
    }
    const QStringList bases{base};
    const UploadResult& result = answer.result;
    notePushed(bases, result.sessionId);
    if (newRound) {
        engine().log(base + u" 第 "_s + QString::number(round) + u" 轮 → 新会话 "_s +
                     result.sessionId);
    } else {
        engine().log(base + u" 手动推送 → 会话 "_s + result.sessionId +
                     (result.alreadyDone ? u"（幂等重放，未重传）"_s : QString()));
    }
    const SyncManifest manifest = SyncManifest::load(engine().paths().manifest());
    co_await refreshVaultStatus(manifest, pollLimit);
}
