#include "TranscriptQuery.h"

#include <QSet>

using namespace Qt::Literals::StringLiterals;

namespace TranscriptQuery {

QString normalized(const QString& query)
{
    QString out;
    out.reserve(query.size());
    for (const QChar c : query)
        out += c.category() == QChar::Other_Control ? u' ' : c;
    return out.trimmed();
}

int characters(const QString& text)
{
    int n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

bool separates(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph || category == QChar::Other_Control;
}

QString pairTokens(const QString& text)
{
    const QList<uint> cps = text.toUcs4();
    QSet<QString> seen;
    QStringList tokens;
    for (qsizetype i = 0; i < cps.size(); ++i) {
        if (separates(cps[i]))
            continue;
        const bool pair = i + 1 < cps.size() && !separates(cps[i + 1]);
        const QString token =
            QString::fromUcs4(reinterpret_cast<const char32_t*>(&cps[i]), pair ? 2 : 1);
        if (!seen.contains(token)) {
            seen.insert(token);
            tokens << token;
        }
    }
    return tokens.join(u' ');
}

QString quoted(const QString& text)
{
    QString inner = text;
    inner.replace(u'"', u"\"\""_s);
    return u'"' + inner + u'"';
}

QString trigramExpression(const QString& query)
{
    const QList<uint> cps = query.toUcs4();
    QStringList parts;
    QSet<QString> seen;
    for (qsizetype i = 0; i + 3 <= cps.size(); ++i) {
        const QString gram = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cps[i]), 3);
        if (!seen.contains(gram.toLower())) {
            seen.insert(gram.toLower());
            parts << quoted(gram);
        }
    }
    return parts.join(u" AND "_s);
}

QString pairExpression(const QString& query)
{
    return characters(query) == 1 ? quoted(query) + u" *"_s : quoted(query);
}

QList<QPair<int, int>> matches(const QString& text, const QString& query)
{
    QList<QPair<int, int>> out;
    if (query.isEmpty())
        return out;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(query, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        out.append({int(at), int(query.size())});
        from = at + query.size();
    }
    return out;
}

QString marked(const QString& text, const QString& query, const QString& open, const QString& close)
{
    QString out;
    int at = 0;
    for (const auto& [start, length] : matches(text, query)) {
        out += text.mid(at, start - at) + open + text.mid(start, length) + close;
        at = start + length;
    }
    return out + text.mid(at);
}

QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return out;
}

QString snippet(const QString& text, const QString& query, int context)
{
    const auto found = matches(text, query);
    int from = 0;
    int to = int(text.size());
    if (!found.isEmpty()) {
        from = std::max(0, found.first().first - context);
        to = std::min(int(text.size()), found.first().first + found.first().second + context);
    }
    // Never cut a surrogate pair in two.
    if (from > 0 && text.at(from).isLowSurrogate())
        --from;
    if (to < text.size() && to > 0 && text.at(to - 1).isHighSurrogate())
        ++to;
    const QString window = oneLine(text.mid(from, to - from));
    QString out = from > 0 ? u"…"_s : QString();
    int at = 0;
    for (const auto& [start, length] : matches(window, query)) {
        out += window.mid(at, start - at).toHtmlEscaped() + u"<b>"_s +
               window.mid(start, length).toHtmlEscaped() + u"</b>"_s;
        at = start + length;
    }
    out += window.mid(at).toHtmlEscaped();
    if (to < text.size())
        out += u"…"_s;
    return out;
}

QString timeLabel(int64_t ms)
{
    const int64_t total = std::max<int64_t>(0, ms) / 1000;
    const qlonglong h = total / 3600;
    const qlonglong m = (total % 3600) / 60;
    const qlonglong s = total % 60;
    if (h > 0)
        return u"%1:%2:%3"_s.arg(h).arg(m, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
    return u"%1:%2"_s.arg(m).arg(s, 2, 10, QChar(u'0'));
}

} // namespace TranscriptQuery
