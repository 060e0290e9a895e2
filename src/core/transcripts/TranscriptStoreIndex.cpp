// The indexes of TranscriptStore: what goes in with a transcript, what comes out with it, and
// the rebuild a migration asks for.

#include "TranscriptStore.h"
#include "transcripts/TranscriptQuery.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::Literals::StringLiterals;

namespace {

// The indexes and what each receives of a segment's text.
struct Index {
    QString table;
    QString (*tokens)(const QString& text);
};

QString asIs(const QString& text)
{
    return text;
}

const QList<Index>& indexes()
{
    static const QList<Index> all{{u"segment_trigrams"_s, &asIs},
                                  {u"segment_pairs"_s, &TranscriptQuery::pairTokens}};
    return all;
}

} // namespace

qint64 TranscriptStore::nextDocBase() const
{
    return exec(u"SELECT coalesce(max(doc_base + doc_count), 0) + 1 FROM recordings"_s)
        .value(0)
        .toLongLong();
}

void TranscriptStore::indexTexts(qint64 docBase, const QStringList& texts)
{
    for (const Index& index : indexes()) {
        QSqlQuery add(db());
        if (!add.prepare(u"INSERT INTO %1(rowid, text) VALUES(?, ?)"_s.arg(index.table)))
            fail(add.lastError().text());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            add.addBindValue(docBase + i);
            add.addBindValue(index.tokens(texts.at(i)));
            if (!add.exec())
                fail(add.lastError().text());
        }
    }
}

void TranscriptStore::unindexTexts(qint64 docBase, const QStringList& texts)
{
    for (const Index& index : indexes()) {
        QSqlQuery forget(db());
        if (!forget.prepare(
                u"INSERT INTO %1(%1, rowid, text) VALUES('delete', ?, ?)"_s.arg(index.table)))
            fail(forget.lastError().text());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            forget.addBindValue(docBase + i);
            forget.addBindValue(index.tokens(texts.at(i)));
            if (!forget.exec())
                fail(forget.lastError().text());
        }
    }
}

void TranscriptStore::reindexAll()
{
    QList<qint64> ids;
    for (QSqlQuery q = exec(u"SELECT id FROM recordings ORDER BY id"_s); q.isValid(); q.next())
        ids << q.value(0).toLongLong();
    qint64 docBase = 1;
    for (const qint64 id : ids) {
        QStringList texts;
        for (QSqlQuery s = exec(u"SELECT text FROM segments WHERE id BETWEEN ? AND ? ORDER BY id"_s,
                                {id << segmentBits, ((id + 1) << segmentBits) - 1});
             s.isValid(); s.next())
            texts << s.value(0).toString();
        exec(u"UPDATE recordings SET doc_base = ?, doc_count = ? WHERE id = ?"_s,
             {docBase, qlonglong(texts.size()), id});
        indexTexts(docBase, texts);
        docBase += texts.size();
    }
}
