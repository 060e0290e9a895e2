#pragma once

#include "transcripts/StoredTranscript.h"

#include <QWidget>

class QLabel;
class QListWidget;

// The search field's hits in transcript text, below the recording list: per hit a snippet with
// the match emphasised, the speaker, the moment and the recording. Choosing one names the
// recording and the moment. Hidden while there are none.
//
// Rows are painted, not made of widgets, and all as tall as two lines of snippet and one of
// caption: showing an answer must fit in a frame however many hits it has.
class TranscriptHitList : public QWidget {
    Q_OBJECT

public:
    // What each row of list() holds besides its plain text (for screen readers).
    enum Role {
        BaseRole = Qt::UserRole + 1,
        StartRole,   // qint64 ms
        SnippetRole, // rich text, the matches in bold
        CaptionRole, // plain text: speaker · time · recording
    };

    explicit TranscriptHitList(QWidget* parent = nullptr);

    // more: the search found further hits than these.
    void setHits(const QString& query, const QList<TranscriptHit>& hits, bool more = false);
    QListWidget* list() const { return m_list; }

Q_SIGNALS:
    void chosen(const QString& base, qint64 startMs);

private:
    QLabel* m_header;
    QListWidget* m_list;
};
