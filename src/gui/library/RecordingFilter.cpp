#include "library/RecordingFilter.h"

#include "library/RecordingListModel.h"

#include <QRegularExpression>

RecordingFilter::RecordingFilter(QObject* parent) : QSortFilterProxyModel(parent)
{
    // Rows are re-judged when their item changes (a recording that gets starred or fails moves
    // in or out of the class on screen).
    setDynamicSortFilter(true);
}

void RecordingFilter::setSource(RecordingListModel* model)
{
    m_model = model;
    setSourceModel(model);
}

void RecordingFilter::setSearchText(const QString& text)
{
    if (text == m_text) {
        return;
    }
    m_text = text;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    m_words = text.toLower().split(space, Qt::SkipEmptyParts);
    invalidateRowsFilter();
}

void RecordingFilter::setTranscriptMatches(const QSet<QString>& bases)
{
    if (bases == m_transcriptMatches) {
        return;
    }
    m_transcriptMatches = bases;
    invalidateRowsFilter();
}

void RecordingFilter::setScope(Scope scope)
{
    if (scope == m_scope) {
        return;
    }
    m_scope = scope;
    invalidateRowsFilter();
}

bool RecordingFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (!m_model || sourceParent.isValid()) {
        return false;
    }
    const RecordingListModel::Row& row = m_model->row(sourceRow);
    switch (m_scope) {
    case Scope::all:
        break;
    case Scope::needsAttention:
        if (row.kind.problem() == Triage::Problem::none) {
            return false;
        }
        break;
    case Scope::onPen:
        if (!row.item.onDevice()) {
            return false;
        }
        break;
    case Scope::starred:
        if (!row.item.starred) {
            return false;
        }
        break;
    }
    if (m_transcriptMatches.contains(row.item.base)) {
        return true;
    }
    for (const QString& word : m_words) {
        if (!row.haystack.contains(word)) {
            return false;
        }
    }
    return true;
}
