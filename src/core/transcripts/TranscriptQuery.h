#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <cstdint>

// The pure rules of transcript search: how a typed query becomes an index expression, how
// matches are found and shown. The query is always plain text: quotes, stars, brackets and
// words like OR or NEAR are searched for, never interpreted.
namespace TranscriptQuery {

// The query as searched: trimmed, control characters dropped.
QString normalized(const QString& query);
// Length in characters (a character outside the basic plane counts once).
int characters(const QString& text);
// The text as the pair index receives it: every pair of neighbouring characters as one token,
// and a character with no neighbour after it (at the end, before a space) on its own, so every
// character begins a token. Tokens are separated by spaces, each once; pairs across a space or
// a control character are left out (a trimmed query of two characters never holds one).
QString pairTokens(const QString& text);
// True for the characters that separate tokens in the pair index (spaces, control characters).
bool separates(char32_t c);

// For three characters or more: every trigram of the query, each as one quoted index string,
// joined by AND (a superset of the segments holding the query; the caller checks each).
QString trigramExpression(const QString& query);
// For one or two characters, in the pair index: the pair itself, or every token that begins
// with the one character.
QString pairExpression(const QString& query);
// A string as one quoted index string.
QString quoted(const QString& text);

// Where query occurs in text, case-insensitively, without overlaps: (start, length) pairs.
QList<QPair<int, int>> matches(const QString& text, const QString& query);
// The text with every match between open and close.
QString marked(const QString& text, const QString& query, const QString& open,
               const QString& close);
// The text on one line: tabs, line breaks and other control characters become spaces.
QString oneLine(const QString& text);
// Rich text for the list: up to `context` characters either side of the first match, "…"
// where cut, the matches in bold, everything else escaped.
QString snippet(const QString& text, const QString& query, int context = 24);

// "M:SS" below an hour, "H:MM:SS" from an hour on; negative times count as 0.
QString timeLabel(int64_t ms);

} // namespace TranscriptQuery
