#include "library/RecordingRowDelegate.h"

#include "design/DesignSystem.h"
#include "library/RecordingListModel.h"
#include "library/Triage.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace {

QColor toneColour(Triage::Tone tone, bool dark)
{
    switch (tone) {
    case Triage::Tone::ok:
        return DS::ok;
    case Triage::Tone::warn:
        return DS::warn;
    case Triage::Tone::bad:
        return DS::bad;
    case Triage::Tone::idle:
        break;
    }
    return DS::secondaryText(dark);
}

// A tiny waveform glyph, so the tile needs no icon theme.
void drawTile(QPainter* p, const QRectF& r, bool selected)
{
    QPainterPath tile;
    tile.addRoundedRect(r, 6, 6);
    p->fillPath(tile, selected ? QColor(255, 255, 255, 60) : DS::focusSoft);
    const QColor ink = selected ? QColor(Qt::white) : DS::iris;
    const double heights[] = {0.25, 0.55, 0.8, 0.45, 0.65, 0.3};
    const double w = r.width() / 10;
    for (int i = 0; i < 6; ++i) {
        const double h = r.height() * 0.6 * heights[i];
        const double x = r.left() + r.width() * 0.2 + i * w * 1.2;
        p->fillRect(QRectF(x, r.center().y() - h / 2, w * 0.7, h), ink);
    }
}

} // namespace

void RecordingRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
    const QRect r = opt.rect.adjusted(8, 4, -10, -4);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const int tileSize = r.height();
    drawTile(painter, QRectF(r.left(), r.top(), tileSize, tileSize), selected);

    const QString title = index.data(Qt::DisplayRole).toString();
    const QString duration = index.data(RecordingListModel::DurationTextRole).toString();
    const QString status = index.data(RecordingListModel::StatusTextRole).toString();
    const auto tone = Triage::Tone(index.data(RecordingListModel::ToneRole).toInt());
    const bool starred = index.data(RecordingListModel::StarredRole).toBool();

    QFont titleFont = opt.font;
    titleFont.setWeight(QFont::Medium);
    QFont small = opt.font;
    small.setPointSizeF(opt.font.pointSizeF() * 0.9);
    const QFontMetrics smallMetrics(small);

    // Right column: status over duration.
    const int right =
        std::max(smallMetrics.horizontalAdvance(status), smallMetrics.horizontalAdvance(duration)) +
        4;
    const QRect rightBox(r.right() - right, r.top(), right, r.height());
    painter->setFont(small);
    painter->setPen(selected ? opt.palette.color(textRole)
                             : toneColour(tone, DS::isDark(opt.palette)));
    painter->drawText(rightBox.adjusted(0, 0, 0, -r.height() / 2),
                      Qt::AlignRight | Qt::AlignVCenter, status);
    painter->setPen(opt.palette.color(selected ? textRole : QPalette::PlaceholderText));
    painter->drawText(rightBox.adjusted(0, r.height() / 2, 0, 0), Qt::AlignRight | Qt::AlignVCenter,
                      duration);

    // Title, with a star when starred.
    const QRect titleBox(r.left() + tileSize + 10, r.top(),
                         rightBox.left() - (r.left() + tileSize + 10) - 8, r.height());
    painter->setFont(titleFont);
    painter->setPen(opt.palette.color(textRole));
    const QString star = starred ? QStringLiteral(" ★") : QString();
    const QFontMetrics titleMetrics(titleFont);
    const QString shown = titleMetrics.elidedText(
        title, Qt::ElideMiddle, titleBox.width() - titleMetrics.horizontalAdvance(star));
    painter->drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter, shown);
    if (starred) {
        painter->setPen(selected ? opt.palette.color(textRole) : DS::warn);
        painter->drawText(titleBox.adjusted(titleMetrics.horizontalAdvance(shown), 0, 0, 0),
                          Qt::AlignLeft | Qt::AlignVCenter, star);
    }
    painter->restore();
}

QSize RecordingRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    const QFontMetrics m(option.font);
    return {240, std::max(44, m.height() * 2 + 12)};
}
