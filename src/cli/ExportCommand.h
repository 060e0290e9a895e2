#pragma once

// `kestrel export --to DIR [--format ogg|wav] [--transcripts] [--since DATE]
// [--archive-root DIR]`: copies the archived recordings out under readable names (start time
// and title), as they are or converted to WAV, with each transcribed recording's transcript as
// plain text and SRT subtitles when asked and signed in. Reads the archive and the ledger and
// never changes them; never overwrites a file in DIR. Exit 0 when everything asked for was
// written, 1 when something was skipped (each with a sentence), 2 for a bad command line.
namespace ExportCommand {

int main(int argc, char** argv);

} // namespace ExportCommand
