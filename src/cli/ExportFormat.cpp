#include "ExportFormat.h"

using namespace Qt::Literals::StringLiterals;

namespace ExportFormat {

namespace {

constexpr int maxTitleChars = 80;

QString nameOf(const TranscriptSegment& s, const QMap<QString, QString>& names)
{
    return names.value(s.speaker, s.speaker);
}

QString line(const TranscriptSegment& s, const QMap<QString, QString>& names)
{
    const QString who = nameOf(s, names);
    return who.isEmpty() ? s.text.trimmed() : who + u"："_s + s.text.trimmed();
}

// A blank line ends a subtitle cue, so the text keeps its lines but loses the empty ones.
QString cueText(const TranscriptSegment& s, const QMap<QString, QString>& names)
{
    QStringList lines;
    for (const QString& l : line(s, names).split(u'\n'))
        if (!l.trimmed().isEmpty())
            lines.append(l.trimmed());
    return lines.join(u'\n');
}

} // namespace

QString safeTitle(const QString& title)
{
    QString out;
    for (const QChar c : title) {
        if (c.category() == QChar::Other_Control || u"/\\:*?\"<>|"_s.contains(c))
            out.append(u' ');
        else
            out.append(c);
    }
    out = out.simplified();
    while (out.startsWith(u'.'))
        out.remove(0, 1);
    return out.left(maxTitleChars).trimmed();
}

QString stem(const std::optional<QDateTime>& start, const QString& title, const QString& base)
{
    QString name = safeTitle(title);
    if (name.isEmpty())
        name = safeTitle(base);
    if (!start || !start->isValid())
        return name;
    return start->toString(u"yyyy-MM-dd HHmmss"_s) + u' ' + name;
}

QString unique(const QString& stem, const QStringList& extensions, const QSet<QString>& taken)
{
    // Compared without case: on the file systems of USB sticks "X.WAV" and "x.wav" are one file.
    QSet<QString> lower;
    for (const QString& name : taken)
        lower.insert(name.toLower());
    for (int n = 1;; ++n) {
        const QString candidate = n == 1 ? stem : stem + u" ("_s + QString::number(n) + u')';
        const bool free =
            std::none_of(extensions.cbegin(), extensions.cend(), [&](const QString& ext) {
                return lower.contains((candidate + ext).toLower());
            });
        if (free)
            return candidate;
    }
}

QString srtTime(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    return u"%1:%2:%3,%4"_s.arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QMap<QString, QString> speakerNames(const QList<SpeakerRow>& rows)
{
    QMap<QString, QString> names;
    for (const SpeakerRow& row : rows)
        if (row.inferredIdentity && !row.inferredIdentity->trimmed().isEmpty())
            names.insert(row.label, row.inferredIdentity->trimmed());
    return names;
}

QByteArray srt(const QList<TranscriptSegment>& segments, const QMap<QString, QString>& names)
{
    QString out;
    int cue = 0;
    for (const TranscriptSegment& s : segments) {
        if (s.text.trimmed().isEmpty())
            continue;
        // A cue must not end before it starts; one without length shows for a moment.
        const qint64 end = std::max(s.endMs, s.startMs + 1);
        out += QString::number(++cue) + u'\n' + srtTime(s.startMs) + u" --> "_s + srtTime(end) +
               u'\n' + cueText(s, names) + u"\n\n"_s;
    }
    return out.toUtf8();
}

QByteArray plainText(const QString& title, const QList<TranscriptSegment>& segments,
                     const QMap<QString, QString>& names)
{
    QString out = title + u"\n\n"_s;
    for (const TranscriptSegment& s : segments) {
        if (s.text.trimmed().isEmpty())
            continue;
        const qint64 seconds = std::max<qint64>(s.startMs, 0) / 1000;
        out += u"[%1:%2] "_s.arg(seconds / 60, 2, 10, QLatin1Char('0'))
                   .arg(seconds % 60, 2, 10, QLatin1Char('0')) +
               line(s, names) + u'\n';
    }
    return out.toUtf8();
}

} // namespace ExportFormat
