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

    void setHits(const QString& query, const QList<TranscriptHit>& hits);
    QListWidget* list() const { return m_list; }

Q_SIGNALS:
    void chosen(const QString& base, qint64 startMs);

private:
    QLabel* m_header;
    QListWidget* m_list;
};
