#pragma once

#include <QStyledItemDelegate>

// Paints one recording row: a waveform tile, the title with its star, the length, and the
// status in its tone's colour.
class RecordingRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
