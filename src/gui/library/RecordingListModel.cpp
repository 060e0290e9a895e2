#include "library/RecordingListModel.h"

#include "format/Fmt.h"

#include <QSet>

RecordingListModel::RecordingListModel(QObject* parent) : QAbstractListModel(parent) {}

RecordingListModel::Row RecordingListModel::makeRow(const RecordingItem& item) const
{
    Row row{item,
            Fmt::title(item.base),
            Fmt::duration(item.durationSec),
            Triage::classify(item, m_busyBase),
            {}};
    QStringList words{row.title, item.base};
    if (const auto at = Fmt::recordedAt(item.base)) {
        words << at->toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (item.plannedTitle) {
        words << *item.plannedTitle;
    }
    if (item.vaultTitle) {
        words << *item.vaultTitle;
    }
    row.haystack = words.join(QLatin1Char('\n')).toLower();
    return row;
}

bool RecordingListModel::sameBases(const QList<RecordingItem>& items) const
{
    if (items.size() != m_rows.size()) {
        return false;
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].base != m_rows[i].item.base) {
            return false;
        }
    }
    return true;
}

void RecordingListModel::setItems(const QList<RecordingItem>& input)
{
    // Most engine changes touch a field or two of one recording: only compare.
    if (sameBases(input)) {
        refreshRows(input);
        recount();
        return;
    }

    // The engine's bases are unique; should a duplicate slip in, the first one wins so every
    // base keeps exactly one row.
    QSet<QString> wanted;
    wanted.reserve(input.size());
    QList<RecordingItem> deduplicated;
    const QList<RecordingItem>* source = &input;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (wanted.contains(input[i].base)) {
            if (source == &input) {
                deduplicated = input.first(i);
                source = &deduplicated;
            }
            continue;
        }
        wanted.insert(input[i].base);
        if (source != &input) {
            deduplicated.append(input[i]);
        }
    }
    const QList<RecordingItem>& items = *source;

    bool structural = false;

    // Rows that left, removed from the end in contiguous runs.
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (wanted.contains(m_rows[i].item.base)) {
            continue;
        }
        const int last = i;
        while (i > 0 && !wanted.contains(m_rows[i - 1].item.base)) {
            --i;
        }
        beginRemoveRows({}, i, last);
        m_rows.remove(i, last - i + 1);
        endRemoveRows();
        structural = true;
    }
    if (structural) {
        reindex();
    }

    // Rows that stayed but changed places: one layout change that carries the persistent
    // indexes (a view's selection and current row) along.
    QList<int> order;
    order.reserve(m_rows.size());
    for (const RecordingItem& item : items) {
        if (const auto it = m_index.constFind(item.base); it != m_index.constEnd()) {
            order.append(*it);
        }
    }
    bool inOrder = true;
    for (int i = 0; i < order.size(); ++i) {
        if (order[i] != i) {
            inOrder = false;
            break;
        }
    }
    if (!inOrder) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        QList<Row> moved;
        moved.reserve(m_rows.size());
        QList<int> newRowOf(m_rows.size());
        for (int i = 0; i < order.size(); ++i) {
            moved.append(std::move(m_rows[order[i]]));
            newRowOf[order[i]] = i;
        }
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            after.append(this->index(newRowOf[index.row()], index.column()));
        }
        m_rows = std::move(moved);
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        structural = true;
    }

    // Now the surviving rows are a subsequence of the new list in its order: walk both, insert
    // runs of new items, refresh rows whose item changed.
    int row = 0;
    int changedFrom = -1;
    auto flushChanged = [&](int end) {
        if (changedFrom >= 0) {
            Q_EMIT dataChanged(index(changedFrom), index(end - 1));
            changedFrom = -1;
        }
    };
    for (qsizetype k = 0; k < items.size();) {
        if (row < m_rows.size() && m_rows[row].item.base == items[k].base) {
            if (!(m_rows[row].item == items[k])) {
                m_rows[row] = makeRow(items[k]);
                if (changedFrom < 0) {
                    changedFrom = row;
                }
            } else {
                flushChanged(row);
            }
            ++row;
            ++k;
            continue;
        }
        flushChanged(row);
        const qsizetype start = k;
        while (k < items.size() &&
               !(row < m_rows.size() && m_rows[row].item.base == items[k].base)) {
            ++k;
        }
        const int n = int(k - start);
        beginInsertRows({}, row, row + n - 1);
        QList<Row> fresh;
        fresh.reserve(n);
        for (qsizetype j = start; j < k; ++j) {
            fresh.append(makeRow(items[j]));
        }
        m_rows.insert(row, n, Row{});
        std::move(fresh.begin(), fresh.end(), m_rows.begin() + row);
        endInsertRows();
        row += n;
        structural = true;
    }
    flushChanged(row);

    if (structural) {
        reindex();
    }
    recount();
}

void RecordingListModel::refreshRows(const QList<RecordingItem>& items)
{
    int changedFrom = -1;
    for (int row = 0; row <= m_rows.size(); ++row) {
        const bool changed = row < m_rows.size() && !(m_rows[row].item == items[row]);
        if (changed) {
            m_rows[row] = makeRow(items[row]);
            if (changedFrom < 0) {
                changedFrom = row;
            }
        } else if (changedFrom >= 0) {
            Q_EMIT dataChanged(index(changedFrom), index(row - 1));
            changedFrom = -1;
        }
    }
}

void RecordingListModel::setBusyBase(const std::optional<QString>& base)
{
    if (base == m_busyBase) {
        return;
    }
    const std::optional<QString> previous = std::exchange(m_busyBase, base);
    restatus(previous);
    restatus(m_busyBase);
    recount();
}

void RecordingListModel::restatus(const std::optional<QString>& base)
{
    if (!base) {
        return;
    }
    const std::optional<int> i = rowOf(*base);
    if (!i) {
        return;
    }
    Row& r = m_rows[*i];
    const Triage::Kind kind = Triage::classify(r.item, m_busyBase);
    if (kind != r.kind) {
        r.kind = kind;
        Q_EMIT dataChanged(index(*i), index(*i));
    }
}

void RecordingListModel::reindex()
{
    m_index.clear();
    m_index.reserve(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i) {
        m_index.insert(m_rows[i].item.base, i);
    }
}

void RecordingListModel::recount()
{
    int counts[4] = {0, 0, 0, 0};
    for (const Row& r : std::as_const(m_rows)) {
        ++counts[int(r.kind.problem())];
    }
    if (!std::equal(std::begin(counts), std::end(counts), std::begin(m_counts))) {
        std::copy(std::begin(counts), std::end(counts), std::begin(m_counts));
        Q_EMIT countsChanged();
    }
}

int RecordingListModel::count(Triage::Problem problem) const
{
    return m_counts[int(problem)];
}

std::optional<int> RecordingListModel::rowOf(const QString& base) const
{
    const auto it = m_index.constFind(base);
    if (it == m_index.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

const RecordingItem* RecordingListModel::item(const QString& base) const
{
    const std::optional<int> i = rowOf(base);
    return i ? &m_rows[*i].item : nullptr;
}

int RecordingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant RecordingListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const Row& r = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return r.title;
    case Qt::ToolTipRole:
        return r.item.base;
    case Qt::AccessibleTextRole: {
        QStringList parts{r.title, QStringLiteral("时长 ") + r.duration};
        if (r.item.starred) {
            parts << QStringLiteral("已标星");
        }
        return parts.join(QStringLiteral("，"));
    }
    case Qt::AccessibleDescriptionRole:
        return r.kind.text();
    case BaseRole:
        return r.item.base;
    case DurationTextRole:
        return r.duration;
    case StatusTextRole:
        return r.kind.text();
    case ToneRole:
        return int(r.kind.tone());
    case StarredRole:
        return r.item.starred;
    case KindRole:
        return int(r.kind.value);
    default:
        return {};
    }
}

QHash<int, QByteArray> RecordingListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(BaseRole, "base");
    names.insert(DurationTextRole, "duration");
    names.insert(StatusTextRole, "status");
    names.insert(ToneRole, "tone");
    names.insert(StarredRole, "starred");
    names.insert(KindRole, "kind");
    return names;
}
