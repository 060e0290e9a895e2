#include "TranscriptSearcher.h"

#include "transcripts/TranscriptQuery.h"
#include "transcripts/TranscriptStore.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

TranscriptSearcher::TranscriptSearcher(std::function<QString()> storePath, int limit,
                                       QObject* parent)
    : QObject(parent), m_path(std::move(storePath)), m_limit(limit)
{
    m_pool.setMaxThreadCount(1);
}

TranscriptSearcher::~TranscriptSearcher()
{
    ++*m_generation;
    m_pool.waitForDone();
}

void TranscriptSearcher::search(const QString& query)
{
    const int generation = ++*m_generation;
    const QString normalized = TranscriptQuery::normalized(query);
    if (normalized.isEmpty()) {
        m_query = query;
        m_hits.clear();
        m_more = false;
        Q_EMIT answered();
        return;
    }
    auto* watcher = new QFutureWatcher<QList<TranscriptHit>>(this);
    connect(watcher, &QFutureWatcher<QList<TranscriptHit>>::finished, this,
            [this, watcher, generation, query] {
                watcher->deleteLater();
                if (generation != *m_generation)
                    return;
                m_query = query;
                m_hits = watcher->result();
                m_more = m_hits.size() > m_limit;
                if (m_more)
                    m_hits.resize(m_limit);
                Q_EMIT answered();
            });
    watcher->setFuture(
        QtConcurrent::run(&m_pool,
                          [path = m_path(), limit = m_limit, normalized, generation,
                           current = m_generation]() -> QList<TranscriptHit> {
                              if (generation != *current)
                                  return {};
                              try {
                                  return TranscriptStore::open(path, TranscriptStore::Mode::read)
                                      ->search(normalized, limit + 1);
                              } catch (const TranscriptStoreError&) {
                                  return {}; // no store yet, or one being replaced: nothing to show
                              }
                          }));
}
