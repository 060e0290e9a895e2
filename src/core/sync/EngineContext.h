#pragma once

#include "sync/BindMismatch.h"
#include "sync/CleanupSettings.h"
#include "sync/Continuation.h"
#include "sync/DeviceInfo.h"
#include "sync/SyncPhase.h"

#include <QDateTime>
#include <QString>
#include <optional>

class ItemSource;
class QObject;
class RecordingNotes;
class SyncLog;
struct SyncManifest;
class SyncPaths;
struct EngineHooks;

// A component's only way into the engine that holds it (upload queue, pen deletions, ledger
// edits, device binding, radio notices). It gives the archive's paths and clock, the log and
// notifications, the ledger's save, the per-recording notes, the hooks a component installs,
// and the published status a component reports into; it gives no way into the round or into
// another component's state. Only the event-loop thread uses it.
class EngineContext {
public:
    virtual ~EngineContext() = default;
    // --- services ---
    virtual const SyncPaths& paths() const = 0;
    virtual QDateTime now() const = 0;
    virtual void log(const QString& line) = 0;
    virtual SyncLog& syncLog() = 0;
    virtual void notify(const QString& body, const QString& title) = 0;
    // Saves the ledger; a failure is logged and the caller carries on.
    virtual bool persist(const SyncManifest& manifest) = 0;
    // Rebuilds the recording list from the ledger, the archive and every component's part.
    virtual void refreshLocalView() = 0;
    virtual EngineHooks& hooks() = 0;
    virtual RecordingNotes& notes() = 0;
    // A component whose state shows in the list adds its part from now until it is removed.
    virtual void addItemSource(const ItemSource& source) = 0;
    virtual void removeItemSource(const ItemSource& source) = 0;
    // When a recording really began, from the pen's clock evidence (see Continuation).
    virtual Continuation::TrueStart trueStart(const QString& base, double durationSec) = 0;
    // The engine itself, for a QPointer that tells a component the context has gone.
    virtual QObject* lifetime() = 0;

    // --- the round ---
    virtual bool isSyncing() const = 0;
    virtual bool monitoring() const = 0;
    // Manual round: refused (summary only) while a round runs.
    virtual void syncNow() = 0;

    // --- published status a component reports into ---
    virtual const DeviceInfo& device() const = 0;
    virtual const CleanupSettings& cleanup() const = 0;
    virtual const SyncPhase& phase() const = 0;
    virtual void setPhase(const SyncPhase& phase) = 0;
    virtual void setLastRun(const std::optional<QDateTime>& at) = 0;
    virtual void setLastSummary(const QString& summary) = 0;
    virtual const std::optional<BindMismatch>& pendingBindMismatch() const = 0;
    virtual void setPendingBindMismatch(const std::optional<BindMismatch>& mismatch) = 0;
    virtual bool needsSignIn() const = 0;
    virtual void setNeedsSignIn(bool needed) = 0;
    virtual void setUploadBlocked(const std::optional<QString>& text) = 0;
    // The service's name for the pen on show, when that pen is still the one shown.
    virtual void showBindingName(const QString& peripheralId,
                                 const std::optional<QString>& name) = 0;
};
