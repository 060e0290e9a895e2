// The engine's monitor loop: listening to the advertisements, choosing the pen, its cool-down
// and back-off, and the scan behind the manual trigger.

#include "device/AdvertisementStream.h"
#include "sync/SyncEngine.h"

#include <QDir>
#include <QPointer>

using namespace Qt::Literals::StringLiterals;

void SyncEngine::installDisconnectHandler()
{
    QPointer<SyncEngine> self(this);
    client().setOnDisconnect([self](const std::optional<QString>& error) {
        if (!self)
            return;
        // Hop back onto the loop: the client may be in the middle of its own bookkeeping.
        QMetaObject::invokeMethod(
            self.data(),
            [self, error] {
                SyncEngine* engine = self.data();
                if (!engine)
                    return;
                engine->updateDevice([](DeviceInfo& d) { d.connected = false; });
                engine->log(error ? u"设备意外断开："_s + *error : u"设备意外断开"_s);
                if (engine->m_monitoring && !engine->m_syncing)
                    engine->setPhase(SyncPhase::waitingForDevice());
            },
            Qt::QueuedConnection);
    });
}

QCoro::Task<> SyncEngine::monitorLoop(int generation)
{
    QPointer<SyncEngine> self(this);
    installDisconnectHandler();
    if (m_phase.is(SyncPhase::Kind::Idle))
        setPhase(SyncPhase::waitingForDevice());

    AdvertisementStream stream = client().advertisements();
    m_monitorStream = &stream;
    const auto cancelled = [&] {
        const SyncEngine* engine = self.data();
        return engine == nullptr || engine->m_monitorGeneration != generation;
    };

    while (true) {
        const std::optional<Discovered> d = co_await stream.next();
        if (cancelled())
            co_return; // the engine is gone, or stop() already cleared the loop
        if (!d || !m_monitoring)
            break;
        const std::optional<Discovered> target = pick({*d});
        if (target)
            noteSeen(*target, now());
        if (m_syncing)
            continue;
        if (m_phase.is(SyncPhase::Kind::Failed))
            setPhase(SyncPhase::waitingForDevice());
        if (!target || !passedCooldown(*target))
            continue;
        m_syncing = true;
        co_await runSync(*target);
        if (cancelled())
            co_return;
        m_syncing = false;
        Q_EMIT roundEnded();
        if (!m_monitoring)
            break;
    }

    m_monitorStream = nullptr;
    m_monitorTask.reset();
    if (!m_monitoring && !m_phase.is(SyncPhase::Kind::Failed) && !m_syncing)
        setPhase(SyncPhase::idle());
}

// --- choosing the pen and its cool-down ---

std::optional<Discovered> SyncEngine::pick(const QList<Discovered>& candidates) const
{
    for (const Discovered& d : candidates) {
        if (d.byService)
            return d;
    }
    const QString hint = m_deviceNameHint.toLower();
    for (const Discovered& d : candidates) {
        if (d.name.toLower().contains(hint))
            return d;
    }
    return std::nullopt;
}

void SyncEngine::noteSeen(const Discovered& d, const QDateTime& at)
{
    if (m_device.lastSeenAt) {
        const double gap = double(m_device.lastSeenAt->msecsTo(at)) / 1000.0;
        if (gap < m_timing.sightingInterval)
            return;
        if (gap > m_timing.returnGap) {
            log(u"录音笔又开始广播了（上次见到是 "_s + SyncManifest::stamp(*m_device.lastSeenAt) +
                u"，中间 "_s + QString::number(static_cast<long long>(gap / 60.0)) +
                u" 分钟没有信号）"_s);
        }
    }
    updateDevice([&](DeviceInfo& info) {
        info.lastSeenAt = at;
        if (info.name == DeviceInfo().name)
            info.name = d.name;
    });
}

bool SyncEngine::passedCooldown(const Discovered& d)
{
    return m_policy.admit(d.peripheral, now(), [this] { return resumingInProgress(); });
}

double SyncEngine::currentCooldown(const QString& key) const
{
    return m_policy.interval(key, resumingInProgress());
}

bool SyncEngine::resumingInProgress() const
{
    // A partial the archive could not take anyway (disk full, read-only) waits for the user,
    // not for the pen: hurrying back would only spend the pen's battery.
    const QString suffix = u".part"_s;
    for (const QString& part :
         QDir(m_paths.rawPackets()).entryList({u"*"_s + suffix}, QDir::Files | QDir::Hidden)) {
        const QString base = part.chopped(suffix.size());
        if (!archiveRefusal(base, partialAnnounced(base).value_or(0)))
            return true;
    }
    return false;
}

void SyncEngine::noteRoundOutcome(const QString& key, bool productive)
{
    const int before = m_policy.noteOutcome(key, productive);
    if (productive) {
        // The interval the loop will really wait, as below: a pending partial keeps it short.
        if (before >= 1) {
            log(u"有新内容，重连间隔打回 "_s +
                QString::number(static_cast<long long>(currentCooldown(key))) + u"s"_s);
        }
        return;
    }
    const int n = m_policy.idleRounds().value(key);
    // The interval the loop will really wait: a download waiting to resume shortens it.
    log(u"空转第 "_s + QString::number(n) + u" 轮，下次重连间隔 "_s +
        QString::number(static_cast<long long>(currentCooldown(key))) + u"s"_s);
}

// --- manual trigger ---

QCoro::Task<std::optional<Discovered>> SyncEngine::discover(double seconds)
{
    QPointer<SyncEngine> self(this);
    QList<Discovered> found;
    try {
        found = co_await client().scan(seconds, m_deviceNameHint);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    const std::optional<Discovered> pen = pick(found);
    if (pen)
        m_policy.noteTriggered(pen->peripheral, now());
    co_return pen;
}
