#pragma once

#include "cleanup/ArchiveAudit.h"
#include "sync/SyncManifest.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <optional>

class EngineContext;

// The user's edits of the ledger (re-download, star, dismiss, planned title and project) and the
// engine's entry to the archive audit. Every edit loads the ledger afresh, changes it, saves it
// through the engine (which refuses to write back a ledger that could not be read) and refreshes
// the recording list.
class ManifestEdits {
public:
    explicit ManifestEdits(EngineContext& engine);
    // Empties the hook install() filled.
    ~ManifestEdits();
    ManifestEdits(const ManifestEdits&) = delete;
    ManifestEdits& operator=(const ManifestEdits&) = delete;

    // Fills the engine's runArchiveAudit hook.
    void install();

    // Forgets the import records and failure counters of a recording so the next round fetches
    // it again.
    void requestRedownload(const QString& name);
    void toggleStar(const QString& name);
    void toggleDismissed(const QString& name);
    // Title and project the upload will carry; nothing changes once the recording is uploaded.
    void setPlan(const QString& name, const std::optional<QString>& title,
                 const std::optional<QString>& projectId);
    // Audits the archive, logs the summary and notifies when something needs attention.
    ArchiveAudit::Report runArchiveAudit();
    // The second half of runArchiveAudit, for an audit that ran elsewhere (off the event
    // loop): logs the summary and notifies when something needs attention.
    void auditFinished(const ArchiveAudit::Report& report);

private:
    // Removes every occurrence of the name from the list, or appends it when absent.
    void toggleIn(bool starred, const QString& name);

    EngineContext& m_engine;
    QPointer<QObject> m_guard; // whether the engine still exists at destruction
};
