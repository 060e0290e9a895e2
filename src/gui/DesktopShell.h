#pragma once

#include <QString>
#include <QUrl>

// How the application hands things to the desktop: web pages and files to their default
// programs, a file to the file browser. Tests put a recorder in its place.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // A web page in the browser, a file or folder with its default program.
    virtual void open(const QUrl& url);
    // The file selected in the file browser; its folder opened when no file browser answers.
    virtual void reveal(const QString& filePath);
};
