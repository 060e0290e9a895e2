#pragma once

#include <QString>

// The desktop's file browser, over the freedesktop FileManager1 D-Bus interface.
namespace FileManager {

// Asks the file browser to show the file selected; false when no file browser answered.
bool showItem(const QString& filePath);

} // namespace FileManager
