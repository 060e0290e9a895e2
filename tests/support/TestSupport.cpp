#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace TestSupport {

bool spinUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!pred()) {
        if (deadline.hasExpired()) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

::testing::AssertionResult validPartial(const QString& root, const QString& base,
                                        const QByteArray& announced)
{
    const QString stem = root + QStringLiteral("/导入/原始包/") + base;
    const qsizetype size = readFile(stem + QStringLiteral(".part")).size();
    if (size == 0 || size % 40 != 0)
        return ::testing::AssertionFailure() << "partial of " << size << " bytes";
    const QByteArray said = readFile(stem + QStringLiteral(".part.size"));
    if (said != announced)
        return ::testing::AssertionFailure() << "size file says \"" << said.toStdString() << '"';
    return ::testing::AssertionSuccess();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(data);
    }
}

ProgramRun runProgram(const QString& program, const QStringList& args, const QByteArray& input,
                      const QProcessEnvironment& env, std::chrono::milliseconds timeout)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(int(timeout.count()))) {
        p.kill();
        p.waitForFinished();
        return {-1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace TestSupport
