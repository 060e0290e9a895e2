#pragma once

#include "library/RecordingDetailView.h"

#include <QWidget>

class AppModel;
class Dialogs;
class ListenPlayer;
class QStackedWidget;
class RecordingListModel;
class RecordingListView;
class TranscriptHitList;
class TranscriptReader;
class TranscriptSearcher;

// The library section: the list (and below it what the search field found in transcripts)
// beside the selected recording's detail, or the empty hint when there are no recordings at all.
// The list follows the app model's items; the selection is the model's.
class LibraryPage : public QWidget {
    Q_OBJECT

public:
    LibraryPage(AppModel& model, Dialogs& dialogs, RecordingDetailView::BarsFn bars,
                QWidget* parent = nullptr);
    ~LibraryPage() override;

    RecordingListView& list() const { return *m_list; }
    RecordingDetailView& detail() const { return *m_detail; }
    RecordingListModel& listModel() const { return *m_listModel; }
    ListenPlayer& player() const { return *m_player; }
    TranscriptHitList& transcriptHits() const { return *m_hits; }
    TranscriptSearcher& transcriptSearcher() const { return *m_searcher; }

private:
    void refreshItems();
    void refreshDetail();

    AppModel& m_model;
    RecordingListModel* m_listModel;
    ListenPlayer* m_player;
    TranscriptReader* m_reader;
    TranscriptSearcher* m_searcher;
    TranscriptHitList* m_hits;
    QStackedWidget* m_stack;
    RecordingListView* m_list;
    RecordingDetailView* m_detail;
    QWidget* m_noSelection;
    QStackedWidget* m_detailStack;
};
