#include "device/FileEntry.h"

QString FileEntry::base() const
{
    if (name.endsWith(QLatin1Char('.'))) {
        return name.chopped(1);
    }
    return name;
}

QStringList FileEntry::candidates() const
{
    const QString b = base();
    const QString lower = b.toLower();
    const QStringList all{
        lower.endsWith(QLatin1String(".opus")) ? b : b + QLatin1String(".opus"),
        lower.endsWith(QLatin1String(".wav")) ? b : b + QLatin1String(".wav"),
        name,
    };
    QStringList out;
    for (const QString& c : all) {
        if (!out.contains(c)) {
            out.append(c);
        }
    }
    return out;
}
