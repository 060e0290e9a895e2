// The search side of TranscriptStore.

#include "TranscriptStore.h"
#include "transcripts/TranscriptQuery.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <sqlite3.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A recording as search ranks it: its index range and how many candidates fall in it.
struct Ranked {
    qint64 id = 0;
    qint64 docBase = 0;
    qint64 docCount = 0;
    QString base;
    std::optional<QString> title;
    bool deleted = false;
    int candidates = 0;
};

// The rows of `SELECT rowid FROM table WHERE table MATCH expression` in SQLite's own terms: a
// frequent pair matches most of the archive's segments, and Qt SQL's cost per row would
// dominate the answer. Calls each(rowid) for every one; SQLite's complaint when it failed.
template <typename Each>
std::optional<QString> eachMatch(const QSqlDatabase& db, const QString& table,
                                 const QString& expression, Each each)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return u"the database driver is not SQLite"_s;
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData());
    const QByteArray sql = u"SELECT rowid FROM %1 WHERE %1 MATCH ?"_s.arg(table).toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.constData(), int(sql.size()), &statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(statement);
        return QString::fromUtf8(sqlite3_errmsg(connection));
    }
    const QByteArray bound = expression.toUtf8();
    sqlite3_bind_text(statement, 1, bound.constData(), int(bound.size()), SQLITE_STATIC);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        each(sqlite3_column_int64(statement, 0));
    std::optional<QString> problem;
    if (step != SQLITE_DONE)
        problem = QString::fromUtf8(sqlite3_errmsg(connection));
    sqlite3_finalize(statement);
    return problem;
}

} // namespace

QList<TranscriptHit> TranscriptStore::search(const QString& rawQuery, int limit) const
{
    QList<TranscriptHit> hits;
    const QString query = TranscriptQuery::normalized(rawQuery);
    if (query.isEmpty() || limit <= 0)
        return hits;
    const bool trigrams = TranscriptQuery::characters(query) >= 3;
    const QString table = trigrams ? u"segment_trigrams"_s : u"segment_pairs"_s;
    const QString expression = trigrams ? TranscriptQuery::trigramExpression(query)
                                        : TranscriptQuery::pairExpression(query);
    if (expression.isEmpty())
        return hits;

    // Recordings by candidate count, counted in the index alone; ties: the newest first.
    QList<Ranked> ranked;
    for (QSqlQuery q = exec(u"SELECT id, doc_base, doc_count, base, title, service_deleted"
                            " FROM recordings WHERE doc_count > 0 ORDER BY doc_base"_s);
         q.isValid(); q.next())
        ranked.append(
            {q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong(),
             q.value(3).toString(),
             q.value(4).isNull() ? std::nullopt : std::optional<QString>(q.value(4).toString()),
             q.value(5).toBool(), 0});
    qsizetype at = 0; // the recording the last row fell in; rows mostly come in order
    const std::optional<QString> problem = eachMatch(db(), table, expression, [&](qint64 doc) {
        if (at >= ranked.size() || doc < ranked[at].docBase ||
            doc >= ranked[at].docBase + ranked[at].docCount) {
            const auto after =
                std::upper_bound(ranked.cbegin(), ranked.cend(), doc,
                                 [](qint64 d, const Ranked& r) { return d < r.docBase; });
            at = after - ranked.cbegin() - 1;
            if (at < 0 || doc >= ranked[at].docBase + ranked[at].docCount) {
                at = 0;
                return;
            }
        }
        ++ranked[at].candidates;
    });
    if (problem)
        fail(*problem);
    ranked.removeIf([](const Ranked& r) { return r.candidates == 0; });
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        return a.candidates != b.candidates ? a.candidates > b.candidates : a.base > b.base;
    });

    for (const Ranked& r : ranked) {
        const QHash<QString, QString> names = speakerNames(r.id);
        for (QSqlQuery q = exec(u"SELECT speaker, text, start_ms FROM segments WHERE id IN"
                                " (SELECT ? + rowid FROM %1 WHERE %1 MATCH ?"
                                "  AND rowid BETWEEN ? AND ?) ORDER BY start_ms, id"_s.arg(table),
                                {(r.id << segmentBits) - r.docBase, expression, r.docBase,
                                 r.docBase + r.docCount - 1});
             q.isValid(); q.next()) {
            const QString text = q.value(1).toString();
            const auto found = TranscriptQuery::matches(text, query);
            if (found.isEmpty())
                continue; // the index's candidate holds the query's pieces, not the query
            const QString label = q.value(0).toString();
            hits.append({r.base, r.title, r.deleted, names.value(label, label), text,
                         q.value(2).toLongLong(), found.first().first, found.first().second});
            if (hits.size() >= limit)
                return hits;
        }
    }
    return hits;
}
