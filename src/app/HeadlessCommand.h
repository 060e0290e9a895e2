#pragma once

#include <QString>

// `kestrel --headless`: runs the sync engine without a window, echoing its log on stdout.
// With --once it runs one manual round and exits 0 (round completed) or 1 (round failed or
// interrupted). An archive root that cannot serve is named before anything else (exit 1).
namespace HeadlessCommand {

QString usage();
int main(int argc, char** argv);

} // namespace HeadlessCommand
