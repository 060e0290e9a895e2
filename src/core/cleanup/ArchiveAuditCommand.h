#pragma once

#include "cleanup/ArchiveAudit.h"

#include <QString>

class QTextStream;
class SyncPaths;

// The "audit" verb of the command line: audits the archive read-only and prints the report.
namespace ArchiveAuditCommand {

// The summary on the first line; then one line per item: base, status label and detail
// separated by tabs, in the report's order; then "未记账" + tab + base for every raw file the
// ledger does not account for.
QString render(const ArchiveAudit::Report& report);

// 0 when every item is ok and nothing is unaccounted for, else 2.
int exitStatus(const ArchiveAudit::Report& report);

// Audits the archive under paths, writes render() to out and returns exitStatus(). A ledger
// that cannot be read is not audited: out gets why and what to do, and the result is 1.
int run(const SyncPaths& paths, QTextStream& out);

} // namespace ArchiveAuditCommand
