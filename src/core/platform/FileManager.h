#pragma once

#include <QString>
#include <functional>

class QDBusError;

// The desktop's file browser, over the freedesktop FileManager1 D-Bus interface.
namespace FileManager {

enum class Shown {
    yes,           // the file browser took the request
    noFileBrowser, // nobody answers to the interface: the caller opens the folder instead
    noAnswer,      // the file browser took too long; it may still show the file, so nothing
                   // else opens (a second window would follow)
};

// What a failed call means for the caller.
Shown outcome(const QDBusError& error);

// Asks the file browser to show the file selected, without waiting for its answer; done runs
// on the event loop once the answer (or the time-out) is in.
void showItem(const QString& filePath, std::function<void(Shown)> done);

} // namespace FileManager
