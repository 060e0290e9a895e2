#include "DesktopShell.h"

#include "platform/FileManager.h"

#include <QDesktopServices>
#include <QFileInfo>

void DesktopShell::open(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

void DesktopShell::reveal(const QString& filePath)
{
    if (!FileManager::showItem(filePath))
        open(QUrl::fromLocalFile(QFileInfo(filePath).absolutePath()));
}
