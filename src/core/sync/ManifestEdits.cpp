#include "sync/ManifestEdits.h"

#include "sync/EngineContext.h"
#include "sync/EngineHooks.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

using namespace Qt::StringLiterals;

namespace {

// Only spaces and tabs: a line break at the edge of a title is the user's.
QString trimSpacesAndTabs(const QString& text)
{
    const auto blank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

} // namespace

ManifestEdits::ManifestEdits(EngineContext& engine) : m_engine(engine), m_guard(engine.lifetime())
{}

ManifestEdits::~ManifestEdits()
{
    if (!m_guard.isNull()) {
        m_engine.hooks().runArchiveAudit = nullptr;
    }
}

void ManifestEdits::install()
{
    m_engine.hooks().runArchiveAudit = [this] {
        runArchiveAudit();
    };
}

void ManifestEdits::requestRedownload(const QString& name)
{
    SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    QStringList importKeys;
    QStringList failureKeys;
    // An empty name is contained in every key; it names no recording.
    if (!name.isEmpty()) {
        for (const auto& [key, imported] : manifest.imported) {
            // The recording list names a recording by its base; keys name it as the pen lists
            // it, which may carry an extension.
            const auto parsed = ArchiveAudit::parseKey(key);
            if (key.startsWith(name + u'|') || key.startsWith(name + u".|"_s) ||
                (parsed && parsed->base == name) ||
                SyncPlanner::archivedBase(key, imported) == name) {
                importKeys.append(key);
            }
        }
        for (const auto& [key, count] : manifest.downloadFailures) {
            if (key.contains(name)) {
                failureKeys.append(key);
            }
        }
    }

    if (importKeys.isEmpty() && failureKeys.isEmpty()) {
        m_engine.log(name + u"：清单里既没有导入记录也没有失败计数，无事可做"_s);
        m_engine.setLastSummary(name + u" 本来就在待下载队列里"_s);
    } else {
        for (const QString& key : importKeys) {
            manifest.imported.erase(key);
        }
        for (const QString& key : failureKeys) {
            manifest.downloadFailures.erase(key);
        }
        if (m_engine.persist(manifest)) {
            m_engine.log(name + u" 标记为待重下（清了 "_s + QString::number(importKeys.size()) +
                         u" 条导入记录、"_s + QString::number(failureKeys.size()) +
                         u" 条失败计数），设备下次出现时会重新拉取"_s);
            m_engine.setLastSummary(name + u" 已标记为待重下"_s);
        } else {
            // Nothing was forgotten, so nothing will be fetched again: do not say otherwise.
            m_engine.setLastSummary(u"清单没保存成功，"_s + name + u" 没能标记为待重下"_s);
        }
    }
    m_engine.refreshLocalView();
    // A round under way has planned its downloads already; the next one fetches the recording.
    if (!m_engine.isSyncing()) {
        m_engine.syncNow();
    }
}

void ManifestEdits::toggleIn(bool starred, const QString& name)
{
    SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    QStringList& names = starred ? manifest.starred : manifest.dismissed;
    if (names.contains(name)) {
        names.removeAll(name);
    } else {
        names.append(name);
    }
    m_engine.persist(manifest);
    m_engine.refreshLocalView();
}

void ManifestEdits::toggleStar(const QString& name)
{
    toggleIn(true, name);
}

void ManifestEdits::toggleDismissed(const QString& name)
{
    toggleIn(false, name);
}

void ManifestEdits::setPlan(const QString& name, const std::optional<QString>& title,
                            const std::optional<QString>& projectId)
{
    SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    // The upload already carried its title and project; a later plan would only mislead.
    if (manifest.uploaded.contains(name)) {
        m_engine.refreshLocalView();
        return;
    }
    std::optional<QString> trimmed;
    if (title) {
        const QString t = trimSpacesAndTabs(*title);
        if (!t.isEmpty()) {
            trimmed = t;
        }
    }
    std::optional<QString> project;
    if (projectId && !projectId->isEmpty()) {
        project = projectId;
    }
    if (!trimmed && !project) {
        manifest.plan.erase(name);
    } else {
        manifest.plan[name] = SyncManifest::Plan{trimmed, project};
    }
    m_engine.persist(manifest);
    m_engine.refreshLocalView();
}

ArchiveAudit::Report ManifestEdits::runArchiveAudit()
{
    const ArchiveAudit::Report report = ArchiveAudit::run(m_engine.paths());
    auditFinished(report);
    return report;
}

void ManifestEdits::auditFinished(const ArchiveAudit::Report& report)
{
    m_engine.log(u"归档体检："_s + report.summary());
    if (report.problems() >= 1 || !report.unlistedRawPackets.isEmpty()) {
        m_engine.notify(report.summary(), u"本地归档有问题"_s);
    }
}
