#pragma once

#include "library/Triage.h"
#include "sync/RecordingItem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <optional>

// The recordings of the library as an item model, fed with the app model's list after every
// engine change. Updates are incremental (rows inserted, removed, moved or changed), so views
// keep their selection and scroll position while the engine works.
class RecordingListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        BaseRole = Qt::UserRole + 1,
        DurationTextRole,
        StatusTextRole,
        ToneRole, // int of Triage::Tone
        StarredRole,
        KindRole, // int of Triage::Kind::Case
    };

    // What a row shows, worked out once per change of its item.
    struct Row {
        RecordingItem item;
        QString title;
        QString duration;
        Triage::Kind kind;
        QString haystack; // lower-cased words the search field matches
    };

    explicit RecordingListModel(QObject* parent = nullptr);

    void setItems(const QList<RecordingItem>& items);
    // The base name the engine is working on; its row reads "正在处理".
    void setBusyBase(const std::optional<QString>& base);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const Row& row(int i) const { return m_rows.at(i); }
    std::optional<int> rowOf(const QString& base) const;
    const RecordingItem* item(const QString& base) const;

    // Recordings per problem class, for the list header.
    int count(Triage::Problem problem) const;

Q_SIGNALS:
    void countsChanged();

private:
    Row makeRow(const RecordingItem& item) const;
    bool sameBases(const QList<RecordingItem>& items) const;
    // Same recordings in the same order: refresh the rows whose item changed.
    void refreshRows(const QList<RecordingItem>& items);
    void restatus(const std::optional<QString>& base);
    void reindex();
    void recount();

    QList<Row> m_rows;
    QHash<QString, int> m_index; // base -> row
    std::optional<QString> m_busyBase;
    int m_counts[4] = {0, 0, 0, 0};
};
