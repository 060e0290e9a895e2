#include "AuditCommand.h"

#include "CommandLine.h"
#include "cleanup/ArchiveAuditCommand.h"
#include "sync/ArchiveRootCheck.h"
#include "sync/SyncPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

namespace AuditCommand {

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    parser.addOption(root);
    if (!CommandLine::parse(parser, u"用法：kestrel audit [--archive-root 目录]"_s))
        return CommandLine::usage;
    const SyncPaths paths =
        parser.isSet(root) ? SyncPaths(parser.value(root)) : SyncPaths::standard();
    if (const auto problem = ArchiveRootCheck::problem(paths.root(), ArchiveRootCheck::Use::read)) {
        CommandLine::err(*problem);
        return CommandLine::failed;
    }
    QTextStream out(stdout);
    return ArchiveAuditCommand::run(paths, out);
}

} // namespace AuditCommand
