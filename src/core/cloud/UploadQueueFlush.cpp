// The upload queue's flush: due recordings, short ones kept local, cut recordings joined,
// back-off after failures.

#include "audio/OggWrap.h"
#include "cloud/MindvaultError.h"
#include "cloud/UploadQueue.h"
#include "platform/PlatformTexts.h"
#include "sync/Continuation.h"
#include "sync/Describe.h"
#include "sync/EngineContext.h"
#include "sync/RecordingNotes.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QCoro/QCoroTimer>
#include <QFile>

using namespace Qt::Literals::StringLiterals;

namespace {

// How the round archives the pen's packets; a merged chain is wrapped the same way.
constexpr uint32_t penSampleRate = 16000;
const QString oggTag = u"QX27"_s;

} // namespace

struct UploadQueue::Unit {
    QStringList bases;                    // first segment first
    QList<std::optional<double>> seconds; // per base; absent when the file cannot be read
};

QList<UploadQueue::Unit> UploadQueue::planUnits() const
{
    QHash<QString, std::optional<double>> seconds;
    QList<std::pair<QString, double>> items;
    for (const PendingUpload& u : m_book.queue()) {
        const std::optional<double> s = durationOf(u.base, m_book.ext(u.base));
        seconds.insert(u.base, s);
        items.append({u.base, s.value_or(0)});
    }
    QList<Unit> units;
    for (const QStringList& group : Continuation::groupContinuations(items)) {
        Unit unit;
        unit.bases = group;
        for (const QString& base : group)
            unit.seconds.append(seconds.value(base));
        units.append(unit);
    }
    return units;
}

// --- flushing ---

QCoro::Task<int> UploadQueue::flushUploadQueue(bool force)
{
    QPointer<UploadQueue> self(this);
    // A flush that started before a round archived its recordings did not see them: wait for
    // it to end and flush again, rather than leave them for the next retry ten minutes later.
    while (self && alive() && m_flushing)
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
    if (!self || !alive())
        co_return 0;
    m_flushing = true;
    int pushed = 0;
    try {
        pushed = co_await flushBody(force);
    } catch (const std::exception& e) {
        if (self && alive())
            engine().log(u"推送中断："_s + describe(e));
    }
    if (self)
        m_flushing = false;
    if (self && alive())
        endUploadingPhase();
    co_return pushed;
}

void UploadQueue::blockUploads(bool signInLost)
{
    EngineContext& e = engine();
    const QString waiting = QString::number(m_book.queue().size());
    if (signInLost) {
        e.setLastSummary(u"登录已失效，本次只落盘"_s);
        e.setUploadBlocked(u"推送暂停：登录已失效（"_s + waiting + u" 条在等）。"_s +
                           u"在网页或别的设备上点「退出登录」会连带让这里失效，重新登录一次，"
                           u"这些会自动推上去"_s);
    } else {
        e.setLastSummary(u"Mindvault未接通，本次只落盘"_s);
        e.setUploadBlocked(u"推送暂停：连不上Mindvault（"_s + waiting +
                           u" 条在等）——多半是登录失效，点右上角账号图标重新登录"_s);
    }
}

QCoro::Task<int> UploadQueue::flushBody(bool force)
{
    QPointer<UploadQueue> self(this);
    {
        const SyncManifest manifest = SyncManifest::load(engine().paths().manifest());
        rebuildUploadQueue(scanUploadable(engine().paths().dest()), manifest);
    }
    const Mindvault* vault = co_await ensureVault();
    if (!self || !alive())
        co_return 0;
    if (!vault) {
        blockUploads(engine().needsSignIn());
        co_return 0;
    }
    // Connected again: a banner from an earlier failed connection no longer holds.
    engine().setUploadBlocked(std::nullopt);

    int pushed = 0;
    for (const Unit& unit : planUnits()) {
        const PendingUpload* entry = m_book.find(unit.bases.front());
        if (!entry)
            continue;
        if (!force && entry->nextAttempt > engine().now())
            continue;
        const std::pair<int, bool> outcome = co_await pushUnit(unit);
        if (!self || !alive())
            co_return pushed + outcome.first;
        pushed += outcome.first;
        if (outcome.second)
            co_return pushed; // revoked: everything waits for a new sign-in
    }

    const SyncManifest manifest = SyncManifest::load(engine().paths().manifest());
    rebuildUploadQueue(scanUploadable(engine().paths().dest()), manifest);
    engine().refreshLocalView();
    co_await refreshVaultStatus(manifest, pollLimit);
    co_return pushed;
}

QCoro::Task<std::pair<int, bool>> UploadQueue::pushUnit(const Unit& unit)
{
    QPointer<UploadQueue> self(this);
    if (unit.bases.size() == 1) {
        const Outcome o = co_await pushSingle(unit.bases.front(), unit.seconds.front());
        co_return std::pair{o == Outcome::pushed ? 1 : 0, o == Outcome::stop};
    }

    // The head decides for the chain whether it goes now at all.
    const QString& head = unit.bases.front();
    if (!readable(head, unit.seconds.front()) || keptShort(head, *unit.seconds.front()))
        co_return std::pair{0, false};

    const std::optional<QByteArray> raw = joinedSegments(unit);
    if (raw) {
        double total = 0;
        for (const auto& s : unit.seconds)
            total += s.value_or(0);
        const QStringList& bases = unit.bases;
        engine().log(QString::number(bases.size()) + u" 段（录音笔 3 小时上限切开的同一场）："_s +
                     head);
        engine().log(u"合并 "_s + bases.join(u" + "_s));
        QByteArray ogg;
        try {
            ogg = OggWrap::wrap(*raw, penSampleRate, oggTag);
        } catch (const std::exception& e) {
            noteFailure(bases, describe(e));
            co_return std::pair{0, false};
        }
        const AudioSource audio(ogg);
        const QString id = u"mac-ble-"_s + head + u"-merged"_s + QString::number(bases.size());
        const QString mime = u"audio/ogg"_s;
        const Outcome o = co_await upload(bases, audio, total, *unit.seconds.front(), id, mime);
        co_return std::pair{o == Outcome::pushed ? 1 : 0, o == Outcome::stop};
    }

    engine().log(head + u"：有段落缺失或长度不合，按单条推"_s);
    int pushed = 0;
    for (qsizetype i = 0; i < unit.bases.size(); ++i) {
        const Outcome o = co_await pushSingle(unit.bases[i], unit.seconds[i]);
        if (!self || !alive() || o == Outcome::stop)
            co_return std::pair{pushed, true};
        if (o == Outcome::pushed)
            ++pushed;
    }
    co_return std::pair{pushed, false};
}

std::optional<QByteArray> UploadQueue::joinedSegments(const Unit& unit) const
{
    const SyncManifest manifest = SyncManifest::load(engine().paths().manifest());
    QHash<QString, qint64> importedBytes; // archived Ogg name -> raw bytes received
    for (const auto& [key, imported] : manifest.imported)
        importedBytes.insert(imported.file, imported.bytes);

    QList<QByteArray> parts;
    for (const QString& base : unit.bases) {
        QFile file(engine().paths().rawPackets() + u'/' + base + u".opus"_s);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        QByteArray bytes = file.readAll();
        const auto recorded = importedBytes.constFind(base + u".ogg"_s);
        if (recorded != importedBytes.cend() && *recorded != bytes.size())
            return std::nullopt;
        parts.append(std::move(bytes));
    }
    return Continuation::concatRawPackets(parts);
}

bool UploadQueue::readable(const QString& base, const std::optional<double>& seconds)
{
    EngineContext& e = engine();
    bool ok = seconds.has_value();
    if (ok) {
        QFile file(localPath(base, m_book.ext(base)));
        ok = file.open(QIODevice::ReadOnly);
    }
    if (ok)
        return true;
    e.log(base + PlatformTexts::unreadableForUploadLog());
    const QString text = PlatformTexts::unreadableForUpload();
    m_book.noteUnreadable(base, text);
    e.notes().setError(base, text);
    return false;
}

bool UploadQueue::keptShort(const QString& base, double seconds)
{
    EngineContext& e = engine();
    const int floor = e.cleanup().minUploadSeconds;
    if (!SyncPlanner::tooShortToUpload(seconds, floor)) {
        e.notes().clearSkippedShort(base);
        return false;
    }
    if (!e.notes().skippedShort().contains(base)) {
        e.log(QString::asprintf("%s 只有 %.0f 秒，短于 %d 秒门槛，只落盘不推Mindvault",
                                base.toUtf8().constData(), seconds, floor));
    }
    e.notes().setSkippedShort(base, seconds);
    return true;
}

QCoro::Task<UploadQueue::Outcome> UploadQueue::pushSingle(QString base,
                                                          std::optional<double> seconds)
{
    if (!readable(base, seconds) || keptShort(base, *seconds))
        co_return Outcome::skipped;
    const QString ext = m_book.ext(base);
    std::optional<AudioSource> audio;
    try {
        audio = AudioSource::fromFile(localPath(base, ext));
    } catch (const std::exception&) {
        readable(base, std::nullopt);
        co_return Outcome::skipped;
    }
    const bool mic = ext == u"m4a"_s;
    const QString id = (mic ? u"mac-mic-"_s : u"mac-ble-"_s) + base;
    const QString mime = mic ? u"audio/mp4"_s : u"audio/ogg"_s;
    const QStringList bases{base};
    co_return co_await upload(bases, *audio, *seconds, *seconds, id, mime);
}

UploadQueue::Meta UploadQueue::metaFor(const QString& head, double headSeconds)
{
    EngineContext& e = engine();
    const SyncManifest manifest = SyncManifest::load(e.paths().manifest());
    const auto planned = manifest.plan.find(head);
    const Continuation::TrueStart start = e.trueStart(head, headSeconds);
    Meta meta;
    meta.startedAt = start.at.value_or(e.now());
    meta.title = titleFor(head, start.at);
    if (planned != manifest.plan.end()) {
        if (planned->second.title && !planned->second.title->trimmed().isEmpty())
            meta.title = *planned->second.title;
        meta.project = planned->second.projectId;
    }
    return meta;
}

QCoro::Task<UploadQueue::Outcome> UploadQueue::upload(QStringList bases, AudioSource audio,
                                                      double seconds, double headSeconds,
                                                      QString clientRequestId, QString mime)
{
    QPointer<UploadQueue> self(this);
    const std::shared_ptr<Mindvault> client = m_connected ? m_vault : nullptr;
    if (!client)
        co_return Outcome::skipped;
    const Meta meta = metaFor(bases.front(), headSeconds);
    const Attempt answer =
        co_await attempt(client, std::move(audio), seconds, clientRequestId, mime, meta);
    if (!self || !alive())
        co_return Outcome::stop;
    if (answer.revoked) {
        markSessionRevoked(*client);
        co_return Outcome::stop;
    }
    if (answer.error) {
        noteFailure(bases, *answer.error);
        co_return Outcome::failed;
    }
    notePushed(bases, answer.result.sessionId);
    engine().log(meta.title + u" 会话 "_s + answer.result.sessionId +
                 (answer.result.alreadyDone ? u"（幂等重放，未重传）"_s : QString()));
    co_return Outcome::pushed;
}

QCoro::Task<UploadQueue::Attempt> UploadQueue::attempt(std::shared_ptr<Mindvault> client,
                                                       AudioSource audio, double seconds,
                                                       QString clientRequestId, QString mime,
                                                       Meta meta)
{
    const Mindvault::StepFn onStep = stepLogger(QPointer<UploadQueue>(this), meta.title);
    Attempt answer;
    try {
        answer.result =
            co_await client->upload(std::move(audio), meta.title, seconds, clientRequestId, mime,
                                    meta.startedAt, meta.project, onStep);
    } catch (const MindvaultError& e) {
        answer.revoked = e.kind() == MindvaultError::Kind::sessionRevoked;
        answer.error = e.description();
    } catch (const std::exception& e) {
        answer.error = describe(e);
    }
    co_return answer;
}

void UploadQueue::notePushed(const QStringList& bases, const QString& sessionId)
{
    EngineContext& e = engine();
    SyncManifest::modify(e.paths().manifest(), e.syncLog(), [&](SyncManifest& m) {
        for (const QString& base : bases)
            m.uploaded[base] = sessionId;
    });
    for (const QString& base : bases) {
        m_book.notePushed(base);
        e.notes().clearError(base);
        e.notes().clearSkippedShort(base);
    }
    e.refreshLocalView();
}

void UploadQueue::noteFailure(const QStringList& bases, const QString& error)
{
    EngineContext& e = engine();
    const int attempts = m_book.nextAttemptCount(bases.front());
    const double delay = m_timing.retryDelay(attempts);
    const QDateTime next = e.now().addMSecs(qint64(delay * 1000));
    m_book.noteFailure(bases, attempts, error, next);
    e.log(u"推Mindvault失败（第 "_s + QString::number(attempts) + u" 次）"_s + bases.front() +
          u"："_s + error + u"——"_s + QString::number(qint64(delay)) + u" 秒后再试"_s);
    e.refreshLocalView();
}

Mindvault::StepFn UploadQueue::stepLogger(QPointer<UploadQueue> queue, QString title)
{
    return [queue, title](const QString& line) {
        if (UploadQueue* q = queue.data())
            q->showStep(title, line);
    };
}

void UploadQueue::showStep(const QString& title, const QString& step)
{
    if (!alive())
        return;
    EngineContext& e = engine();
    e.log(title + u"："_s + step);
    // Never over a round's own phases: a background flush may run while the pen is connected.
    const SyncPhase& p = e.phase();
    const bool quiet = p.is(SyncPhase::Kind::Idle) || p.is(SyncPhase::Kind::WaitingForDevice) ||
                       p.is(SyncPhase::Kind::Uploading);
    const bool roundFlush = e.isSyncing() && !e.device().connected &&
                            !p.is(SyncPhase::Kind::Connecting) && !p.is(SyncPhase::Kind::Failed);
    if (quiet || roundFlush)
        e.setPhase(SyncPhase::uploading(title, step));
}

void UploadQueue::endUploadingPhase()
{
    EngineContext& e = engine();
    if (e.phase().is(SyncPhase::Kind::Uploading))
        e.setPhase(e.monitoring() ? SyncPhase::waitingForDevice() : SyncPhase::idle());
}

void UploadQueue::retryUploads()
{
    [](QPointer<UploadQueue> self) -> QCoro::Task<> {
        if (self)
            co_await self->flushUploadQueue(true);
    }(this);
}
