#include "DesktopShell.h"

#include "platform/FileManager.h"

#include <QDesktopServices>
#include <QFileInfo>

void DesktopShell::open(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

// The file browser answers over D-Bus whenever it likes: the window does not wait for it, and
// the folder opens instead only when there is no file browser to answer at all.
void DesktopShell::reveal(const QString& filePath)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(filePath).absolutePath());
    FileManager::showItem(filePath, [this, folder](FileManager::Shown shown) {
        if (shown == FileManager::Shown::noFileBrowser)
            open(folder);
    });
}
