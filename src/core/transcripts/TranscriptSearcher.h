#pragma once

#include "transcripts/StoredTranscript.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>

// Searches the archive's transcript store for the window, off the event loop: each query runs
// on a worker thread with a read-only connection of its own, one at a time; a newer query makes
// the older ones stale (a stale one that has not started is skipped, a late answer dropped). The
// event loop only starts a query and takes its answer.
class TranscriptSearcher : public QObject {
    Q_OBJECT

public:
    // storePath: asked at each search (the archive may be chosen after the window is built).
    explicit TranscriptSearcher(std::function<QString()> storePath, int limit = 50,
                                QObject* parent = nullptr);
    ~TranscriptSearcher() override;

    // An empty query answers at once with nothing.
    void search(const QString& query);
    const QString& query() const { return m_query; }
    const QList<TranscriptHit>& hits() const { return m_hits; }
    // The store holds further hits than the limit let through.
    bool more() const { return m_more; }

Q_SIGNALS:
    // hits() now answer query().
    void answered();

private:
    std::function<QString()> m_path;
    int m_limit;
    QString m_query;
    QList<TranscriptHit> m_hits;
    bool m_more = false;
    QThreadPool m_pool;
    std::shared_ptr<std::atomic<int>> m_generation = std::make_shared<std::atomic<int>>(0);
};
