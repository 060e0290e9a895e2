#pragma once

#include "common/Clock.h"
#include "device/BLEClient.h"
#include "device/Discovered.h"
#include "device/FileEntry.h"
#include "sync/BindMismatch.h"
#include "sync/CleanupSettings.h"
#include "sync/Continuation.h"
#include "sync/DeviceInfo.h"
#include "sync/EngineContext.h"
#include "sync/EngineHooks.h"
#include "sync/EngineOptions.h"
#include "sync/EngineTiming.h"
#include "sync/FileError.h"
#include "sync/LiveWitness.h"
#include "sync/MonitorPolicy.h"
#include "sync/PenWatch.h"
#include "sync/RecordingItem.h"
#include "sync/RecordingNotes.h"
#include "sync/SyncLog.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPhase.h"
#include "sync/SyncPlanner.h"
#include "sync/WitnessStore.h"

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class AdvertisementStream;
class CentralPort;
class ItemSource;

// The importer's one long-lived coordinator: listens to the pen's advertisements, runs a sync
// round whenever the pen is seen and its cool-down has passed (or on demand), and publishes what
// it knows for the UI. Everything runs on the one event loop; isSyncing() is the only guard
// against overlapping rounds. The monitor loop holds the engine weakly, so the engine may be
// destroyed while it listens; destroy it only while no round runs (roundEnded tells).
//
// The published properties are read through getters and announced by their *Changed signals.
// Components hanging off the engine (upload queue, pen deletions, ledger edits, device binding)
// see it only as their EngineContext and keep their own state; their part of the list comes in
// through ItemSource.
class SyncEngine final : public QObject, public EngineContext {
    Q_OBJECT

public:
    using Options = EngineOptions;

    // The central is the Bluetooth backend (real or virtual) the engine's client runs on.
    SyncEngine(CentralPort& central, SyncPaths paths, double cooldown, QString deviceNameHint,
               Options options = {}, QObject* parent = nullptr);
    ~SyncEngine() override;

    EngineHooks& hooks() override { return m_hooks; }
    const EngineTiming& timing() const { return m_timing; }
    QDateTime now() const override;
    const SyncPaths& paths() const override { return m_paths; }
    RecordingNotes& notes() override { return m_notes; }
    const RecordingNotes& notes() const { return m_notes; }
    QObject* lifetime() override { return this; }
    void addItemSource(const ItemSource& source) override;
    void removeItemSource(const ItemSource& source) override;

    // --- published properties ---
    const DeviceInfo& device() const override { return m_device; }
    const QList<RecordingItem>& items() const { return m_items; }
    const SyncPhase& phase() const override { return m_phase; }
    const std::optional<QDateTime>& lastRun() const { return m_lastRun; }
    const QString& lastSummary() const { return m_lastSummary; }
    bool monitoring() const override { return m_monitoring; }
    const std::optional<BindMismatch>& pendingBindMismatch() const override
    {
        return m_pendingBindMismatch;
    }
    const std::optional<QString>& uploadBlocked() const { return m_uploadBlocked; }
    bool needsSignIn() const override { return m_needsSignIn; }
    const CleanupSettings& cleanup() const override { return m_cleanup; }

    void setDevice(const DeviceInfo& device);
    void setPhase(const SyncPhase& phase) override;
    void setLastRun(const std::optional<QDateTime>& at) override;
    void setLastSummary(const QString& summary) override;
    void setPendingBindMismatch(const std::optional<BindMismatch>& mismatch) override;
    void setUploadBlocked(const std::optional<QString>& text) override;
    void setNeedsSignIn(bool needed) override;
    void showBindingName(const QString& peripheralId, const std::optional<QString>& name) override;
    // Assigning the settings also saves them (there is no other save path).
    void setCleanup(const CleanupSettings& settings);

    // --- lifecycle and triggers ---
    void start();
    void stop();
    // Manual round: discover, round, flush. Refused (summary only) while a round runs.
    void syncNow() override;
    // A round is running (from the loop, the manual trigger or runRound()).
    bool isSyncing() const override { return m_syncing; }
    // One round under the guard isSyncing() tells; refused (nothing done) while one runs.
    QCoro::Task<> runRound(Discovered target);
    // Holds the guard as if a round ran, so that nothing starts one: for code that drives the
    // round's steps by hand (tests, benches).
    void holdRoundGuard(bool held) { m_syncing = held; }
    // Cuts the link of a running round so it ends soon: the current download keeps a valid
    // partial and the round finishes its bookkeeping (used when the process is asked to quit).
    void interruptRound();
    bool isMonitorLoopRunning() const { return m_monitorTask.has_value(); }
    // Archived recordings are still being screened or summarised off the event loop.
    bool analysing() const { return m_analyses > 0; }

    // --- monitor loop pieces ---
    const MonitorPolicy& monitorPolicy() const { return m_policy; }
    // The base cool-down, a floor under every back-off step.
    void setCooldown(double seconds) { m_policy.setCooldown(seconds); }
    std::optional<Discovered> pick(const QList<Discovered>& candidates) const;
    void noteSeen(const Discovered& d, const QDateTime& at);
    bool passedCooldown(const Discovered& d);
    double currentCooldown(const QString& key) const;
    bool resumingInProgress() const;
    void noteRoundOutcome(const QString& key, bool productive);
    QCoro::Task<std::optional<Discovered>> discover(double seconds);
    void loadCleanupSettingsOnce();

    // --- the round ---
    // One complete conversation with the pen; never throws.
    QCoro::Task<> runSync(Discovered target);
    void refreshLocalView() override;
    void checkBattery(std::optional<uint8_t> level);
    // What the last round read from the pen.
    const PenWatch& penWatch() const { return m_pen; }
    // The pen's file list as the list shows it (the round sets it after listing).
    void notePenList(const QList<FileEntry>& entries);

    // Partial downloads in rawPackets: base + ".part" and base + ".part.size".
    QString partialPath(const QString& base, const QString& suffix) const;
    QByteArray loadPartial(const QString& base, uint32_t announced);
    // The size of the pen's file a partial was saved for (its ".part.size"), when readable.
    std::optional<uint32_t> partialAnnounced(const QString& base) const;
    // What the archive would answer to taking a recording of `size` bytes as `base`, judged
    // without writing; absent when it has room.
    std::optional<FileError> archiveRefusal(const QString& base, uint32_t size) const;
    // Throws FileError when the partial could not be written; the previous pair then stays.
    void savePartial(const QString& base, uint32_t announced, const QByteArray& bytes);
    void dropPartial(const QString& base);
    // Drops every partial that no later download will resume (resumable lacks it): its
    // recording is complete, imported, given up, unsafe, or (with a complete list) no longer
    // on the pen. A leftover partial would otherwise hold the reconnect interval at the short
    // resume value for ever; one of a file skipped for this round only is kept.
    void dropStalePartials(const QList<FileEntry>& entries, const QList<FileEntry>& resumable,
                           bool listComplete);
    void noteDownloadFailure(const FileEntry& entry);

    // --- live witnesses ---
    // Reads the evidence file (start() does this); a missing or broken file keeps the map.
    void loadWitnesses() { m_witnesses.load(); }
    const LiveWitness::Map& witnesses() const { return m_witnesses.witnesses(); }
    Continuation::TrueStart trueStart(const QString& base, double durationSec) override
    {
        return m_witnesses.trueStart(base, durationSec);
    }

    // --- shared helpers for engine members elsewhere ---
    void log(const QString& line) override;
    SyncLog& syncLog() override;
    void notify(const QString& body, const QString& title) override;
    // Saves the ledger; a failure is logged and the round carries on.
    bool persist(const SyncManifest& manifest) override;
    BLEClient& client();

Q_SIGNALS:
    void deviceChanged();
    void itemsChanged();
    void phaseChanged();
    void lastRunChanged();
    void lastSummaryChanged();
    void monitoringChanged();
    void pendingBindMismatchChanged();
    void uploadBlockedChanged();
    void needsSignInChanged();
    void cleanupChanged();
    // A round (from the loop or the manual trigger) or a manual trigger that found no pen
    // has ended; isSyncing is false again.
    void roundEnded();
    // The last running analysis of archived recordings has ended (analysing() is false again).
    void analysesFinished();

private:
    struct Round;

    void setMonitoring(bool on);
    void updateDevice(const std::function<void(DeviceInfo&)>& change);
    void endSyncing();
    void cancelMonitorLoop();
    QCoro::Task<> monitorLoop(int generation);
    void installDisconnectHandler();
    void recoverStrandedRecordings();
    QCoro::Task<int> flushUploadQueue(bool force);

    // Round steps (SyncRound.cpp, SyncRoundDownload.cpp, SyncDeviceReads.cpp).
    QCoro::Task<bool> roundBody(const Discovered& target, Round& round);
    void backfillAndRewrap(const QList<FileEntry>& entries, SyncManifest& manifest,
                           const SyncPlanner::Sizes& localRaw, const SyncPlanner::Sizes& localOgg,
                           Round& round);
    // persist(), noting in the round when the archive's folder refused the write.
    bool persist(const SyncManifest& manifest, Round& round);
    // The archive's folder refused a write (disk full, read-only): the round stops there.
    void noteBlocked(const std::exception& error, Round& round);
    QCoro::Task<bool> downloadOne(const FileEntry& entry, Round& round);
    void archive(const FileEntry& entry, const DownloadResult& result, Round& round);
    void disconnectStep();
    QCoro::Task<> finishRound(const Discovered& target, Round& round);
    QCoro::Task<> readSyncCriticalInfo();
    QCoro::Task<> readDisplayInfo();
    void screenSpeechLater(const QString& base, const QString& oggPath);
    void cacheWaveformLater(const QString& base, const QString& audioPath);
    void endAnalysis();

    const SyncPaths m_paths;
    QString m_deviceNameHint;
    CentralPort& m_central;
    EngineTiming m_timing;
    BLEClient::Timing m_bleTiming;
    Clock m_clock;
    EngineOptions::NotifyFn m_notify;
    SyncLog::Observer m_logObserver;
    EngineHooks m_hooks;
    std::unique_ptr<BLEClient> m_client;
    std::shared_ptr<SyncLog> m_log; // shared with background conversions

    DeviceInfo m_device;
    QList<RecordingItem> m_items;
    SyncPhase m_phase;
    std::optional<QDateTime> m_lastRun;
    QString m_lastSummary;
    bool m_monitoring = false;
    std::optional<BindMismatch> m_pendingBindMismatch;
    std::optional<QString> m_uploadBlocked;
    bool m_needsSignIn = false;
    CleanupSettings m_cleanup;

    bool m_syncing = false;
    bool m_cleanupLoaded = false;
    MonitorPolicy m_policy;
    PenWatch m_pen;
    WitnessStore m_witnesses;
    RecordingNotes m_notes;
    QList<const ItemSource*> m_itemSources;

    // The monitor loop: present while it runs; the number is its generation, so a loop that was
    // cancelled and replaced never clears its successor.
    std::optional<int> m_monitorTask;
    int m_monitorGeneration = 0;
    AdvertisementStream* m_monitorStream = nullptr;
    int m_analyses = 0; // screenings and waveforms running off the loop
};
