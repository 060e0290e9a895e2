#include "sync/SyncEngine.h"

#include "device/AdvertisementStream.h"
#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/RadioState.h"
#include "sync/ArchiveScan.h"
#include "sync/Describe.h"
#include "sync/LogDetail.h"

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
                       QString m_deviceNameHint_, Options options, QObject* parent)
    : QObject(parent), m_paths(std::move(paths_)), m_deviceNameHint(std::move(m_deviceNameHint_)),
      m_central(central), m_timing(options.timing), m_bleTiming(options.bleTiming),
      m_clock(std::move(options.clock)), m_notify(std::move(options.notify)),
      m_logObserver(std::move(options.logObserver)), m_policy(cooldown_, m_timing),
      m_witnesses(m_paths.witnesses(), [this](const QString& line) { log(line); })
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

void SyncEngine::showBindingName(const QString& peripheralId, const std::optional<QString>& name)
{
    if (m_device.peripheralId == peripheralId)
        updateDevice([&](DeviceInfo& d) { d.bindingName = name; });
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
        m_cleanup.save(m_paths.cleanupSettings());
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
        m_log = std::make_shared<SyncLog>(m_paths.syncLog(), m_clock, m_logObserver);
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
    return manifest.persist(m_paths.manifest(), syncLog());
}

BLEClient& SyncEngine::client()
{
    if (!m_client) {
        m_client = std::make_unique<BLEClient>(m_central, m_bleTiming);
        // Called on the loop, never from inside one of our calls into the client.
        m_client->setOnScanFailed([this](const QString& error) {
            log(u"蓝牙扫描停了："_s + error + u"——过一会儿自动重试"_s);
        });
    }
    return *m_client;
}

// --- lifecycle ---

void SyncEngine::loadCleanupSettingsOnce()
{
    if (m_cleanupLoaded)
        return;
    m_cleanupLoaded = true;
    const CleanupSettings loaded = CleanupSettings::load(m_paths.cleanupSettings());
    if (loaded == m_cleanup)
        return;
    m_cleanup = loaded;
    Q_EMIT cleanupChanged();
}

void SyncEngine::start()
{
    loadCleanupSettingsOnce();
    m_witnesses.load();
    recoverStrandedRecordings();
    if (m_hooks.startBackgroundLoops)
        m_hooks.startBackgroundLoops();
    log(u"开始持续监听（广播流，冷却 "_s +
        QString::number(static_cast<long long>(m_policy.cooldown())) + u"s，自动清理 "_s +
        (m_cleanup.deleteAfterSync ? u"开"_s : u"关"_s) + u"）"_s);
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
    if (!m_syncing) {
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
    m_syncing = false;
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
    if (m_syncing && m_client && m_client->isConnected())
        m_client->disconnect();
}

QCoro::Task<> SyncEngine::runRound(Discovered target)
{
    if (m_syncing)
        co_return;
    m_syncing = true;
    QPointer<SyncEngine> self(this);
    co_await runSync(std::move(target));
    if (self)
        m_syncing = false;
}

void SyncEngine::syncNow()
{
    if (m_syncing) {
        setLastSummary(u"正在同步中，忽略这次手动触发"_s);
        return;
    }
    m_syncing = true;
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
    // A ".caf" beside an ".m4a" is looked at too: a conversion cut short may have left one
    // that does not read.
    QStringList stranded = ArchiveScan::sizes(m_paths.dest(), u"caf"_s).keys();
    if (stranded.isEmpty() || !m_hooks.convertToM4a)
        return; // without a converter the files simply wait for a start that has one
    std::sort(stranded.begin(), stranded.end());

    // Off the loop: only files and the log (which is thread-safe) are touched.
    const QString dest = m_paths.dest();
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
                logRef->write(u"补转 "_s + base + u" 失败："_s + describeForLog(e) +
                              u"——原始 caf 留着"_s);
            }
        }
    });
}
