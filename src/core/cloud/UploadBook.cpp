#include "cloud/UploadBook.h"

#include <QTimeZone>

using namespace Qt::Literals::StringLiterals;

const PendingUpload* UploadBook::find(const QString& base) const
{
    for (const PendingUpload& u : m_queue) {
        if (u.base == base)
            return &u;
    }
    return nullptr;
}

QString UploadBook::ext(const QString& base) const
{
    return m_ext.value(base, u"ogg"_s);
}

void UploadBook::rebuild(const LocalFiles& local, const SyncManifest& manifest)
{
    QHash<QString, PendingUpload> previous;
    for (const PendingUpload& u : m_queue)
        previous.insert(u.base, u);
    QList<PendingUpload> queue;
    m_ext.clear();
    for (auto it = local.cbegin(); it != local.cend(); ++it) {
        m_ext.insert(it.key(), it.value().ext);
        if (manifest.uploaded.count(it.key()))
            continue;
        PendingUpload entry = previous.value(it.key());
        if (entry.base.isEmpty()) {
            entry.base = it.key();
            entry.nextAttempt = QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc());
        }
        entry.oggBytes = it.value().bytes;
        queue.append(entry);
    }
    m_queue = queue;
}

void UploadBook::forgetAttempts()
{
    for (PendingUpload& u : m_queue) {
        u.attempts = 0;
        u.lastError.reset();
        u.nextAttempt = QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc());
    }
}

int UploadBook::nextAttemptCount(const QString& base) const
{
    const PendingUpload* entry = find(base);
    return entry ? entry->attempts + 1 : 1;
}

void UploadBook::noteFailure(const QStringList& bases, int attempts, const QString& error,
                             const QDateTime& next)
{
    for (PendingUpload& u : m_queue) {
        if (bases.contains(u.base)) {
            u.attempts = attempts;
            u.lastError = error;
            u.nextAttempt = next;
        }
    }
}

void UploadBook::noteUnreadable(const QString& base, const QString& error)
{
    for (PendingUpload& u : m_queue) {
        if (u.base == base)
            u.lastError = error;
    }
}

void UploadBook::notePushed(const QString& base)
{
    m_vault.insert(base, {u"processing"_s, std::nullopt, std::nullopt});
    m_queue.removeIf([&](const PendingUpload& u) { return u.base == base; });
}

void UploadBook::setVaultState(const QString& base, const SyncPlanner::VaultState& state)
{
    m_vault.insert(base, state);
}

void UploadBook::setTitle(const QString& transcriptId, const QString& title)
{
    m_titles.insert(transcriptId, title);
}

void UploadBook::setUnconfirmedSpeakers(const QString& transcriptId, int count)
{
    m_unconfirmed.insert(transcriptId, count);
}

void UploadBook::describe(SyncPlanner::ItemContext& context) const
{
    context.vault = m_vault;
    context.unconfirmed = m_unconfirmed;
    context.titles = m_titles;
    for (const PendingUpload& u : m_queue)
        context.uploadAttempts.insert(u.base, u.attempts);
}
