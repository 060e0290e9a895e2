#include "DSCard.h"

#include "DesignSystem.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int shadow = 3; // room around the fill for the shadow
}

DSCard::DSCard(QWidget* parent, int radius, int padding) : QFrame(parent), m_radius(radius)
{
    setContentsMargins(padding + shadow, padding + shadow, padding + shadow, padding + shadow);
}

void DSCard::paintEvent(QPaintEvent*)
{
    const bool dark = DS::isDark(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF fill = QRectF(rect()).adjusted(shadow, shadow - 1, -shadow, -shadow - 1);
    // A soft shadow from a few widening outlines at low opacity.
    for (int i = 1; i <= shadow; ++i) {
        QPainterPath path;
        path.addRoundedRect(fill.adjusted(-i, -i + 1, i, i + 1), m_radius + i, m_radius + i);
        p.fillPath(path, QColor(0, 0, 0, dark ? 40 / i : 18 / i));
    }
    QPainterPath path;
    path.addRoundedRect(fill, m_radius, m_radius);
    p.fillPath(path, DS::cardFill(dark));
    if (dark) {
        QColor edge = DS::ink400;
        edge.setAlpha(90);
        p.setPen(QPen(edge, 1));
        p.drawPath(path);
    }
}

void DSCard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QFrame::changeEvent(event);
}
