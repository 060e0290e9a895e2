#pragma once

// `kestrel status [--archive-root DIR] [--offline]`: the archive root, the signed-in account,
// every recording's state (imported, pushed, transcribed with its title) with counts, and the
// last round's summary from the sync log. The service's view is asked for unless --offline.
// Exit 0 when everything could be shown, 1 when the archive root, the ledger or the service
// could not be read (an unreadable archive root is said first, and nothing else is shown).
namespace StatusCommand {

int main(int argc, char** argv);

} // namespace StatusCommand
