#include "sync/ArchiveScan.h"

#include <QDir>
#include <QFileInfo>

SyncPlanner::Sizes ArchiveScan::sizes(const QString& folder, const QString& ext)
{
    SyncPlanner::Sizes out;
    const QString suffix = u'.' + ext.toLower();
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& f : files) {
        const QString name = f.fileName();
        if (name.toLower().endsWith(suffix))
            out.insert(name.chopped(suffix.size()), f.size());
    }
    return out;
}
