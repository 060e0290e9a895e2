// kestrel: the importer's entry point. The first argument may name a verb; without one the
// desktop application runs (headless with --headless).

#include "AuditCommand.h"
#include "CommandLine.h"
#include "DesktopCommand.h"
#include "HeadlessCommand.h"
#include "SignInCommand.h"
#include "SignOutCommand.h"
#include "StatusCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <functional>
#include <map>

using namespace Qt::Literals::StringLiterals;

namespace {

using Verb = std::function<int(int argc, char** argv)>;

// One entry per verb, each in its own file.
const std::map<QString, Verb>& verbs()
{
    static const std::map<QString, Verb> table{
        {u"audit"_s, &AuditCommand::main},
        {u"sign-in"_s, &SignInCommand::main},
        {u"sign-out"_s, &SignOutCommand::main},
        {u"status"_s, &StatusCommand::main},
    };
    return table;
}

} // namespace

int main(int argc, char** argv)
{
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (const auto verb = verbs().find(first); verb != verbs().end())
        return verb->second(argc - 1, argv + 1);

    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--headless"_s)
            return HeadlessCommand::main(argc, argv);
    }
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == u"--help"_s || arg == u"-h"_s) {
            CommandLine::out(DesktopCommand::usage());
            CommandLine::out(HeadlessCommand::usage());
            return CommandLine::ok;
        }
    }
    return DesktopCommand::main(argc, argv);
}
