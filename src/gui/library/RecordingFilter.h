#pragma once

#include <QSet>
#include <QSortFilterProxyModel>
#include <QStringList>

class RecordingListModel;

// Finding a recording: the words of the search field (all must match the title, the date, the
// planned title or the transcript's title, or the transcript's text holds the search text) and a
// status class. Sits between the list model and the view; the source must be a RecordingListModel.
class RecordingFilter : public QSortFilterProxyModel {
    Q_OBJECT

public:
    enum class Scope { all, needsAttention, onPen, starred };

    explicit RecordingFilter(QObject* parent = nullptr);

    void setSource(RecordingListModel* model);
    void setSearchText(const QString& text);
    // Recordings whose transcript holds the search text: they match it too.
    void setTranscriptMatches(const QSet<QString>& bases);
    void setScope(Scope scope);
    Scope scope() const { return m_scope; }
    const QString& searchText() const { return m_text; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    RecordingListModel* m_model = nullptr;
    QString m_text;
    QStringList m_words; // lower-cased
    QSet<QString> m_transcriptMatches;
    Scope m_scope = Scope::all;
};
