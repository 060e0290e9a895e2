#pragma once

#include <QString>

// `kestrel` without a verb: the desktop application — the engine in the background, the tray
// icon with its menu, and the main window.
namespace DesktopCommand {

QString usage();
int main(int argc, char** argv);

} // namespace DesktopCommand
