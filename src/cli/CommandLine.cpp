#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace CommandLine {

void out(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void err(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

bool parse(QCommandLineParser& parser, const QString& usage)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Every verb answers --help the same way: its usage on stdout, and nothing else happens.
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        out(usage);
        std::exit(ok);
    }
    QString problem;
    if (!parser.parse(QCoreApplication::arguments())) {
        // Qt's own error texts are English; the user reads Chinese everywhere else.
        problem = parser.unknownOptionNames().isEmpty()
                      ? u"有选项后面缺了值"_s
                      : u"不认识的选项：--"_s + parser.unknownOptionNames().join(u"、--"_s);
    } else if (!parser.positionalArguments().isEmpty()) {
        problem = u"看不懂的参数："_s + parser.positionalArguments().join(u' ');
    }
    if (problem.isEmpty())
        return true;
    err(problem);
    err(usage);
    return false;
}

} // namespace CommandLine
