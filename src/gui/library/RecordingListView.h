#pragma once

#include <QWidget>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QToolButton;
class RecordingFilter;
class RecordingListModel;

// The library's list: problem counters, the search field and status filter, and one row per
// recording. Selecting a row names the recording's base.
class RecordingListView : public QWidget {
    Q_OBJECT

public:
    explicit RecordingListView(RecordingListModel& model, QWidget* parent = nullptr);

    // Selects the recording (clearing search and filter when they hide it).
    void select(const std::optional<QString>& base);
    std::optional<QString> selected() const;
    RecordingFilter& filter() const { return *m_filter; }
    QListView* list() const { return m_list; }
    QLineEdit* search() const { return m_search; }

Q_SIGNALS:
    void selectionChanged(const std::optional<QString>& base);

private:
    void refreshCounters();
    void refreshEmpty();

    RecordingListModel& m_model;
    RecordingFilter* m_filter;
    QToolButton* m_speakers;
    QToolButton* m_failed;
    QToolButton* m_stuck;
    QLineEdit* m_search;
    QComboBox* m_scope;
    QListView* m_list;
    QLabel* m_empty;
};
