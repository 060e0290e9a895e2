#pragma once

#include "transcripts/StoredTranscript.h"

#include <QWidget>

class QLabel;
class QListWidget;

// The search field's hits in transcript text, below the recording list: per hit a snippet with
// the match emphasised, the speaker, the moment and the recording. Choosing one names the
// recording and the moment. Hidden while there are none.
class TranscriptHitList : public QWidget {
    Q_OBJECT

public:
    explicit TranscriptHitList(QWidget* parent = nullptr);

    // more: the search found further hits than these.
    void setHits(const QString& query, const QList<TranscriptHit>& hits, bool more = false);
    QListWidget* list() const { return m_list; }

Q_SIGNALS:
    void chosen(const QString& base, qint64 startMs);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Each row as tall as its wrapped text at the list's present width.
    void fitRows();
    // The rows' text in the colours of their state (chosen or not).
    void paintRows();

    QLabel* m_header;
    QListWidget* m_list;
};
