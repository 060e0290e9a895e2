#pragma once

#include "cloud/Speakers.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

// How `kestrel export` names what it writes and lays out transcripts: pure functions.
namespace ExportFormat {

// "2025-12-03 123000 周会" — when the recording started, then its title; the base name
// stands in for a missing title, and the start is left out when it is not known.
QString stem(const std::optional<QDateTime>& start, const QString& title, const QString& base);

// A title made safe as part of a file name on the file systems people copy exports to:
// no path separators, reserved or control characters, no leading dots, at most 80 characters.
QString safeTitle(const QString& title);

// The first of stem, "stem (2)", "stem (3)", … for which no stem + extension is in `taken`
// (letter case aside).
QString unique(const QString& stem, const QStringList& extensions, const QSet<QString>& taken);

// "HH:MM:SS,mmm", as subtitles count time.
QString srtTime(qint64 ms);

// A speaker's name where it is known, else the transcript's label ("S1").
QMap<QString, QString> speakerNames(const QList<SpeakerRow>& rows);

// Subtitles: one cue per segment with text, "名字：text".
QByteArray srt(const QList<TranscriptSegment>& segments, const QMap<QString, QString>& names);
// Plain text: the title, then "[mm:ss] 名字：text" per segment.
QByteArray plainText(const QString& title, const QList<TranscriptSegment>& segments,
                     const QMap<QString, QString>& names);

} // namespace ExportFormat
