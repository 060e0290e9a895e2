#include "ProcessFigures.h"

#include <QDir>
#include <QFile>
#include <malloc.h>

using namespace Qt::Literals::StringLiterals;

std::optional<ProcessFigures> ProcessFigures::of(qint64 pid)
{
    const QString proc = pid == 0 ? u"/proc/self"_s : u"/proc/"_s + QString::number(pid);
    QFile status(proc + u"/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    ProcessFigures f;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            f.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    // The listing itself holds one descriptor on /proc/self/fd while it runs; it is not ours.
    const QDir fds(proc + u"/fd"_s);
    f.openFds = int(fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
    if (pid == 0) {
        --f.openFds;
        f.heapKiB = qint64(mallinfo2().uordblks / 1024);
    }
    return f;
}
