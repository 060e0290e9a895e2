#pragma once

#include "transcripts/StoredTranscript.h"

#include <QList>
#include <QString>

// `kestrel search QUERY [--archive-root DIR] [--limit N]`: finds what was said in the archive's
// stored transcripts, offline. One line per hit, tab-separated: the recording's base, the time
// in it, the speaker, the segment's text with the match in 「」. Exit 0 with hits, 1 with none,
// 2 on an error (with a sentence), as grep does.
namespace SearchCommand {

// The default number of hits printed.
inline constexpr int defaultLimit = 50;

// One printed line per hit.
QString line(const TranscriptHit& hit, const QString& query);

int main(int argc, char** argv);

} // namespace SearchCommand
