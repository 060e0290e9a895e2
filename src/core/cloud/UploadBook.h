#pragma once

#include "sync/ItemSource.h"
#include "sync/PendingUpload.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPlanner.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The upload queue's bookkeeping: the recordings waiting to go up with their attempts, each
// local file's extension, what the service said about each pushed recording, and the titles
// and unconfirmed speaker counts of its transcripts. The upload queue holds the one instance
// and is its only writer; the engine reads it for the list (as an ItemSource).
class UploadBook : public ItemSource {
public:
    // A local recording that can be pushed.
    struct Local {
        qint64 bytes = 0;
        QString ext; // "ogg" or "m4a", lower case
        bool operator==(const Local&) const = default;
    };
    using LocalFiles = QMap<QString, Local>; // base -> file, ascending by base

    const QList<PendingUpload>& queue() const { return m_queue; }
    const PendingUpload* find(const QString& base) const;
    // The local file's extension; "ogg" for a recording not seen by the last rebuild.
    QString ext(const QString& base) const;
    const QHash<QString, SyncPlanner::VaultState>& vaultStates() const { return m_vault; }
    const QHash<QString, QString>& titles() const { return m_titles; }
    const QHash<QString, int>& unconfirmedSpeakers() const { return m_unconfirmed; }

    // The queue becomes the local recordings without a session, ascending by base; entries
    // already queued keep their attempts, last error and next attempt.
    void rebuild(const LocalFiles& local, const SyncManifest& manifest);
    // Every entry may go at once, as if never tried (after a revoked sign-in).
    void forgetAttempts();
    // The attempt count the next failure of base gives.
    int nextAttemptCount(const QString& base) const;
    void noteFailure(const QStringList& bases, int attempts, const QString& error,
                     const QDateTime& next);
    void noteUnreadable(const QString& base, const QString& error);
    // Pushed: the recording leaves the queue and is processing at the service.
    void notePushed(const QString& base);
    void setVaultState(const QString& base, const SyncPlanner::VaultState& state);
    void setTitle(const QString& transcriptId, const QString& title);
    void setUnconfirmedSpeakers(const QString& transcriptId, int count);

    void describe(SyncPlanner::ItemContext& context) const override;

private:
    QList<PendingUpload> m_queue;
    QHash<QString, QString> m_ext; // base -> local file extension
    QHash<QString, SyncPlanner::VaultState> m_vault;
    QHash<QString, QString> m_titles;  // transcript id -> title
    QHash<QString, int> m_unconfirmed; // transcript id -> speakers awaiting confirmation
};
