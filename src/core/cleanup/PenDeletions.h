#pragma once

#include "cleanup/Cleanup.h"
#include "cloud/VaultProvider.h"
#include "device/BLEClient.h"
#include "device/FileEntry.h"
#include "sync/CleanupSettings.h"
#include "sync/EngineHooks.h"
#include "sync/ItemSource.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class EngineContext;

struct PenDeletionTiming {
    double deleteTimeout = 6.0; // one deleteOne on the pen, seconds
};

// Everything that deletes files from the pen: the automatic cleanup after a round (the cleanup
// policy decides, the archive is audited once more per file, then the pen deletes), and the
// user's own deletion requests, which wait in this object's in-memory queue (its only writer)
// until a round finds the pen idle with a complete file list. A pen name that cannot safely be
// a local file name is never deleted by either path.
//
// Lives as long as the engine whose hooks it fills; runs on the engine's event loop.
class PenDeletions : public ItemSource {
public:
    using Timing = PenDeletionTiming;
    using Outcome = EngineHooks::CleanupOutcome;
    // One deletion on the pen: the device client's deleteOne, or a stand-in in tests.
    using DeleteFn =
        std::function<QCoro::Task<BLEClient::DeleteOutcome>(FileEntry entry, double timeout)>;

    // vault: lends the signed-in service client per call (empty: there is none).
    PenDeletions(EngineContext& engine, VaultProvider vault, Timing timing = {});
    // Empties the hooks install() filled, so the engine never calls into a dead object.
    ~PenDeletions();
    PenDeletions(const PenDeletions&) = delete;
    PenDeletions& operator=(const PenDeletions&) = delete;

    // Fills the engine's performCleanup and runPendingDeletes hooks with this object's members.
    void install();

    // The automatic cleanup: (0, "") when switched off; without a service client nothing is
    // deleted and the note says why. A transcribed recording kept because its archive is not
    // whole is logged with the reason: that needs the user, not time.
    QCoro::Task<Outcome> performCleanup(DeleteFn deleteOne, QList<FileEntry> entries,
                                        std::optional<uint8_t> recordStatus,
                                        std::optional<QString> deviceCurrent,
                                        CleanupSettings settings);
    // The ledger's recording key -> what was archived.
    using Imported = std::map<QString, SyncManifest::Imported>;
    // Carries out the decisions marked for deletion, each after a fresh audit of the archive
    // files of that very recording.
    QCoro::Task<Outcome> execute(QList<Cleanup::Decision> decisions, QList<FileEntry> entries,
                                 Imported imported, DeleteFn deleteOne);
    // The user's queue; returns how many files left the pen.
    QCoro::Task<int> runPendingDeletes(DeleteFn deleteOne, QList<FileEntry> entries,
                                       std::optional<uint8_t> recordStatus, bool listComplete);

    void requestDeviceDelete(const QString& name);
    void cancelDeviceDelete(const QString& name);
    // Queues names without a word or a manual round, for a caller that runs the round itself.
    void enqueue(const QStringList& names);
    // The names (base, pen name or ledger key) waiting for the pen.
    const QSet<QString>& queued() const { return m_queued; }

    void describe(SyncPlanner::ItemContext& context) const override;
    // What deleting this recording from the pen would cost, for the confirmation.
    QString deleteImpact(const QString& name) const;

    static DeleteFn through(BLEClient& client);

private:
    // The listed entry a queued or decided name refers to, if any.
    static std::optional<FileEntry> find(const QList<FileEntry>& entries, const QString& name,
                                         bool alsoByBase);
    void noteDeleted(const QString& name);

    // The engine, and whether it still exists after a suspension.
    bool alive() const { return !m_guard.isNull(); }
    EngineContext& m_engine;
    QPointer<QObject> m_guard;
    QSet<QString> m_queued;
    VaultProvider m_vault;
    Timing m_timing;
    // Entries the manual queue removed in its latest run: the automatic cleanup of the same
    // round works on the list read before them and must not count them again.
    QList<FileEntry> m_manuallyDeleted;
};
