#include "platform/StandardFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace StandardFolders {

QString documents()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty()) {
        dir = QDir::homePath() + QStringLiteral("/Documents");
    }
    return dir;
}

QString serviceData()
{
    // GenericDataLocation is XDG_DATA_HOME (or ~/.local/share) on Linux and
    // ~/Library/Application Support on macOS, which is where the service folder belongs.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return base + QStringLiteral("/Mindvault");
}

} // namespace StandardFolders
