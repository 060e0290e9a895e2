#include "cleanup/ArchiveAuditCommand.h"

#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"

#include <QTextStream>

namespace ArchiveAuditCommand {

QString render(const ArchiveAudit::Report& report)
{
    QString text = report.summary() + u'\n';
    for (const ArchiveAudit::Item& item : report.items) {
        text += item.base + u'\t' + ArchiveAudit::label(item.status) + u'\t' + item.detail + u'\n';
    }
    for (const QString& base : report.unlistedRawPackets) {
        text += QStringLiteral("未记账\t") + base + u'\n';
    }
    return text;
}

int exitStatus(const ArchiveAudit::Report& report)
{
    return report.problems() == 0 && report.unlistedRawPackets.isEmpty() ? 0 : 2;
}

int run(const SyncPaths& paths, QTextStream& out)
{
    // Without the ledger there is nothing to audit against: an empty report would read as
    // "nothing imported" and every raw file as unaccounted for.
    if (const std::optional<QString> reason = SyncManifest::unreadableReason(paths.manifest())) {
        out << *reason << u'\n';
        out.flush();
        return 1;
    }
    const ArchiveAudit::Report report = ArchiveAudit::run(paths);
    out << render(report);
    out.flush();
    return exitStatus(report);
}

} // namespace ArchiveAuditCommand
