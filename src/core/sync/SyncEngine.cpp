#include "sync/SyncEngine.h"

#include "device/AdvertisementStream.h"
#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/RadioState.h"
#include "sync/Describe.h"

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

SyncEngine::SyncEngine(CentralPort& central, SyncPaths paths_, double cooldown_,
                       QString deviceNameHint_, Options options, QObject* parent)
    : QObject(parent), paths(std::move(paths_)), cooldown(cooldown_),
      deviceNameHint(std::move(deviceNameHint_)), m_central(central), m_timing(options.timing),
      m_bleTiming(options.bleTiming), m_clock(std::move(options.clock)),
      m_notify(std::move(options.notify)), m_logObserver(std::move(options.logObserver))
{
    refreshLocalView();
}

SyncEngine::~SyncEngine()
{
    // The loop holds the engine weakly; waking it lets it see the engine is gone.
    cancelMonitorLoop();
}

QDateTime SyncEngine::now() const
{
    return m_clock();
}

// --- published properties ---

void SyncEngine::setDevice(const DeviceInfo& device)
{
    if (m_device == device)
        return;
    m_device = device;
    Q_EMIT deviceChanged();
}

void SyncEngine::updateDevice(const std::function<void(DeviceInfo&)>& change)
{
    DeviceInfo d = m_device;
    change(d);
    setDevice(d);
}

void SyncEngine::setPhase(const SyncPhase& phase)
{
    if (m_phase == phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged();
}

void SyncEngine::setLastRun(const std::optional<QDateTime>& at)
{
    if (m_lastRun == at)
        return;
    m_lastRun = at;
    Q_EMIT lastRunChanged();
}

void SyncEngine::setLastSummary(const QString& summary)
{
    if (m_lastSummary == summary)
        return;
    m_lastSummary = summary;
    Q_EMIT lastSummaryChanged();
}

void SyncEngine::setMonitoring(bool on)
{
    if (m_monitoring == on)
        return;
    m_monitoring = on;
    Q_EMIT monitoringChanged();
}

void SyncEngine::setPendingBindMismatch(const std::optional<BindMismatch>& mismatch)
{
    if (m_pendingBindMismatch == mismatch)
        return;
    m_pendingBindMismatch = mismatch;
    Q_EMIT pendingBindMismatchChanged();
}

void SyncEngine::setUploadBlocked(const std::optional<QString>& text)
{
    if (m_uploadBlocked == text)
        return;
    m_uploadBlocked = text;
    Q_EMIT uploadBlockedChanged();
}

void SyncEngine::setNeedsSignIn(bool needed)
{
    if (m_needsSignIn == needed)
        return;
    m_needsSignIn = needed;
    Q_EMIT needsSignInChanged();
}

void SyncEngine::setCleanup(const CleanupSettings& settings)
{
    m_cleanup = settings;
    Q_EMIT cleanupChanged();
    try {
        m_cleanup.save(paths.cleanupSettings());
    } catch (const FileError& e) {
        const QString text =
            u"设置没能存下来（这次运行照新设置办，重启后会回到原来的设置）："_s + e.description();
        log(text);
        notify(text, u"设置没能保存"_s);
    }
}

// --- shared helpers ---

SyncLog& SyncEngine::syncLog()
{
    if (!m_log)
        m_log = std::make_shared<SyncLog>(paths.syncLog(), m_clock, m_logObserver);
    return *m_log;
}

void SyncEngine::log(const QString& line)
{
    syncLog().write(line);
}

void SyncEngine::notify(const QString& body, const QString& title)
{
    if (m_notify)
        m_notify(body, title);
}

bool SyncEngine::persist(const SyncManifest& manifest)
{
    return manifest.persist(paths.manifest(), syncLog());
}

BLEClient& SyncEngine::client()
{
    if (!m_client)
        m_client = std::make_unique<BLEClient>(m_central, m_bleTiming);
    return *m_client;
}

QString SyncEngine::stamp(const QDateTime& date)
{
    return date.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

// --- lifecycle ---

void SyncEngine::loadCleanupSettingsOnce()
{
    if (cleanupLoaded)
        return;
    cleanupLoaded = true;
    const CleanupSettings loaded = CleanupSettings::load(paths.cleanupSettings());
    if (loaded == m_cleanup)
        return;
    m_cleanup = loaded;
    Q_EMIT cleanupChanged();
}

void SyncEngine::start()
{
    loadCleanupSettingsOnce();
    loadWitnesses();
    recoverStrandedRecordings();
    if (m_hooks.startBackgroundLoops)
        m_hooks.startBackgroundLoops();
    log(u"开始持续监听（广播流，冷却 "_s + QString::number(static_cast<long long>(cooldown)) +
        u"s，自动清理 "_s + (m_cleanup.deleteAfterSync ? u"开"_s : u"关"_s) + u"）"_s);
    if (m_monitorTask)
        return;
    setMonitoring(true);
    if (m_phase.is(SyncPhase::Kind::Idle))
        setPhase(SyncPhase::waitingForDevice());
    const int generation = ++m_monitorGeneration;
    m_monitorTask = generation;
    monitorLoop(generation);
}

void SyncEngine::stop()
{
    log(u"停止监听"_s);
    if (m_hooks.stopBackgroundLoops)
        m_hooks.stopBackgroundLoops();
    setMonitoring(false);
    if (!isSyncing) {
        cancelMonitorLoop();
        if (!m_phase.is(SyncPhase::Kind::Failed))
            setPhase(SyncPhase::idle());
    }
}

void SyncEngine::cancelMonitorLoop()
{
    if (!m_monitorTask)
        return;
    m_monitorTask.reset();
    ++m_monitorGeneration;
    if (m_monitorStream)
        std::exchange(m_monitorStream, nullptr)->close();
}

void SyncEngine::endSyncing()
{
    isSyncing = false;
    // A stop() that came during the round left the loop to end after it.
    if (!m_monitoring && m_monitorTask) {
        cancelMonitorLoop();
        if (!m_phase.is(SyncPhase::Kind::Failed))
            setPhase(SyncPhase::idle());
    }
    Q_EMIT roundEnded();
}

void SyncEngine::interruptRound()
{
    if (isSyncing && m_client && m_client->isConnected())
        m_client->disconnect();
}

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
                if (engine->m_monitoring && !engine->isSyncing)
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
        return !self || self->m_monitorGeneration != generation;
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
        if (isSyncing)
            continue;
        if (m_phase.is(SyncPhase::Kind::Failed))
            setPhase(SyncPhase::waitingForDevice());
        if (!target || !passedCooldown(*target))
            continue;
        isSyncing = true;
        co_await runSync(*target);
        if (cancelled())
            co_return;
        isSyncing = false;
        Q_EMIT roundEnded();
        if (!m_monitoring)
            break;
    }

    m_monitorStream = nullptr;
    m_monitorTask.reset();
    if (!m_monitoring && !m_phase.is(SyncPhase::Kind::Failed) && !isSyncing)
        setPhase(SyncPhase::idle());
}

// --- choosing the pen and its cool-down ---

std::optional<Discovered> SyncEngine::pick(const QList<Discovered>& candidates) const
{
    for (const Discovered& d : candidates) {
        if (d.byService)
            return d;
    }
    const QString hint = deviceNameHint.toLower();
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
            log(u"录音笔又开始广播了（上次见到是 "_s + stamp(*m_device.lastSeenAt) + u"，中间 "_s +
                QString::number(static_cast<long long>(gap / 60.0)) + u" 分钟没有信号）"_s);
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
    const QString key = d.peripheral;
    const QDateTime at = now();
    const auto last = lastTriggered.constFind(key);
    if (last != lastTriggered.cend()) {
        const double elapsed = double(last->msecsTo(at)) / 1000.0;
        // Both possible intervals are at least this long; skip the folder listing behind
        // currentCooldown for the many advertisements that arrive well inside it.
        if (elapsed < std::min(m_timing.resumeCooldown, cooldown))
            return false;
        if (elapsed < currentCooldown(key))
            return false;
    }
    lastTriggered.insert(key, at);
    return true;
}

double SyncEngine::currentCooldown(const QString& key) const
{
    if (resumingInProgress())
        return m_timing.resumeCooldown;
    const int n = std::clamp(idleRounds.value(key, 0), 0, 3);
    return std::max(cooldown, m_timing.backoffSteps[static_cast<size_t>(n)]);
}

bool SyncEngine::resumingInProgress() const
{
    // A partial the archive could not take anyway (disk full, read-only) waits for the user,
    // not for the pen: hurrying back would only spend the pen's battery.
    const QString suffix = u".part"_s;
    for (const QString& part :
         QDir(paths.rawPackets()).entryList({u"*"_s + suffix}, QDir::Files | QDir::Hidden)) {
        const QString base = part.chopped(suffix.size());
        if (!archiveRefusal(base, partialAnnounced(base).value_or(0)))
            return true;
    }
    return false;
}

void SyncEngine::noteRoundOutcome(const QString& key, bool productive)
{
    if (productive) {
        const bool wasIdle = idleRounds.value(key, 0) >= 1;
        idleRounds.insert(key, 0);
        // The interval the loop will really wait, as below: a pending partial keeps it short.
        if (wasIdle) {
            log(u"有新内容，重连间隔打回 "_s +
                QString::number(static_cast<long long>(currentCooldown(key))) + u"s"_s);
        }
        return;
    }
    const int n = std::min(idleRounds.value(key, 0) + 1, 3);
    idleRounds.insert(key, n);
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
        found = co_await client().scan(seconds, deviceNameHint);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    const std::optional<Discovered> pen = pick(found);
    if (pen)
        lastTriggered.insert(pen->peripheral, now());
    co_return pen;
}

void SyncEngine::syncNow()
{
    if (isSyncing) {
        setLastSummary(u"正在同步中，忽略这次手动触发"_s);
        return;
    }
    isSyncing = true;
    [](QPointer<SyncEngine> self) -> QCoro::Task<> {
        const std::optional<Discovered> d = co_await self->discover(self->m_timing.discoverSeconds);
        if (!self)
            co_return;
        if (!d) {
            co_await self->flushUploadQueue(false);
            if (!self)
                co_return;
            // With the radio off the pen cannot be seen: say so instead of blaming the pen.
            const int radio = self->m_central.state();
            if (radio != CentralPort::poweredOn) {
                const QString text =
                    BLEError::bluetoothUnavailable(u"state="_s + QString::number(radio))
                        .description();
                self->log(text + u"——"_s + RadioState::advice(radio));
                self->setPhase(SyncPhase::failed(text));
                self->setLastSummary(text);
            } else {
                self->setPhase(SyncPhase::failed(u"没找到录音笔，确认已开机且未被手机 App 占用"_s));
                self->setLastSummary(u"没找到录音笔"_s);
            }
            self->endSyncing();
            co_return;
        }
        co_await self->runSync(*d);
        if (self)
            self->endSyncing();
    }(this);
}

QCoro::Task<int> SyncEngine::flushUploadQueue(bool force)
{
    if (!m_hooks.flushUploadQueue)
        co_return 0; // no service configured: nothing to push
    co_return co_await m_hooks.flushUploadQueue(force);
}

// --- stranded recordings ---

void SyncEngine::recoverStrandedRecordings()
{
    const SyncPlanner::Sizes caf = scanLocal(paths.dest(), u"caf"_s);
    const SyncPlanner::Sizes m4a = scanLocal(paths.dest(), u"m4a"_s);
    QStringList stranded;
    for (auto it = caf.cbegin(); it != caf.cend(); ++it) {
        if (!m4a.contains(it.key()))
            stranded.append(it.key());
    }
    if (stranded.isEmpty() || !m_hooks.convertToM4a)
        return; // without a converter the files simply wait for a start that has one
    std::sort(stranded.begin(), stranded.end());

    // Off the loop: only files and the log (which is thread-safe) are touched.
    const QString dest = paths.dest();
    const auto convert = m_hooks.convertToM4a;
    syncLog();
    std::ignore = QtConcurrent::run([stranded, dest, convert, logRef = m_log] {
        for (const QString& base : stranded) {
            const QString source = dest + u'/' + base + u".caf"_s;
            try {
                const double seconds = convert(source);
                QFile::remove(source);
                logRef->write(QString::asprintf("补转搁浅录音 %s → m4a（%.1f 秒）",
                                                base.toUtf8().constData(), seconds));
            } catch (const std::exception& e) {
                logRef->write(u"补转 "_s + base + u" 失败："_s + describe(e) +
                              u"——原始 caf 留着"_s);
            }
        }
    });
}
