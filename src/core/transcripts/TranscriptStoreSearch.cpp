// The search side of TranscriptStore.

#include "TranscriptStore.h"
#include "transcripts/TranscriptQuery.h"

#include <QSqlQuery>
#include <QVariant>

using namespace Qt::Literals::StringLiterals;

QStringList TranscriptStore::prefixTerms(const QString& query) const
{
    // The index folds case; so must the range of its terms.
    const QString low = query.toLower();
    const QString high = low + QString::fromUcs4(U"\U0010FFFF", 1);
    QStringList terms;
    for (QSqlQuery q =
             exec(u"SELECT term FROM segment_terms WHERE term >= ? AND term < ?"_s, {low, high});
         q.isValid(); q.next())
        terms << q.value(0).toString();
    return terms;
}

QList<TranscriptHit> TranscriptStore::search(const QString& rawQuery, int limit) const
{
    QList<TranscriptHit> hits;
    const QString query = TranscriptQuery::normalized(rawQuery);
    if (query.isEmpty() || limit <= 0)
        return hits;
    const QString expression = TranscriptQuery::characters(query) >= 3
                                   ? TranscriptQuery::trigramExpression(query)
                                   : TranscriptQuery::prefixExpression(prefixTerms(query));
    if (expression.isEmpty())
        return hits;

    // Recordings by candidate count, counted in the index alone; ties: the newest first.
    struct Ranked {
        qint64 id;
        QString base;
        std::optional<QString> title;
        bool deleted;
    };
    QList<Ranked> ranked;
    for (QSqlQuery q = exec(u"SELECT r.id, r.base, r.title, r.service_deleted FROM"
                            " (SELECT rowid >> %1 AS rec, count(*) AS n FROM segment_index"
                            "  WHERE segment_index MATCH ? GROUP BY rec) AS c"
                            " JOIN recordings AS r ON r.id = c.rec"
                            " ORDER BY c.n DESC, r.base DESC"_s.arg(segmentBits),
                            {expression});
         q.isValid(); q.next())
        ranked.append(
            {q.value(0).toLongLong(), q.value(1).toString(),
             q.value(2).isNull() ? std::nullopt : std::optional<QString>(q.value(2).toString()),
             q.value(3).toBool()});

    for (const Ranked& r : ranked) {
        const QHash<QString, QString> names = speakerNames(r.id);
        for (QSqlQuery q = exec(u"SELECT speaker, text, start_ms FROM segments WHERE id IN"
                                " (SELECT rowid FROM segment_index WHERE segment_index MATCH ?"
                                "  AND rowid BETWEEN ? AND ?) ORDER BY start_ms, id"_s,
                                {expression, r.id << segmentBits, ((r.id + 1) << segmentBits) - 1});
             q.isValid(); q.next()) {
            const QString text = q.value(1).toString();
            const auto found = TranscriptQuery::matches(text, query);
            if (found.isEmpty())
                continue; // the index's candidate holds the trigrams, not the phrase
            const QString label = q.value(0).toString();
            hits.append({r.base, r.title, r.deleted, names.value(label, label), text,
                         q.value(2).toLongLong(), found.first().first, found.first().second});
            if (hits.size() >= limit)
                return hits;
        }
    }
    return hits;
}
