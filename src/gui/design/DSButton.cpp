#include "DSButton.h"

#include "DesignSystem.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

DSButton::DSButton(const QString& text, Style style, QWidget* parent)
    : QPushButton(text, parent), m_style(style)
{
    setFont(DS::font(15, style == Style::primary ? QFont::DemiBold : QFont::Medium));
    setCursor(Qt::PointingHandCursor);
    m_spin.setInterval(60);
    connect(&m_spin, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
    // No fixed accessible name: a button's own text is its name, and follows it ("登录" →
    // "登录中").
}

namespace {
constexpr int indicatorSize = 14;
constexpr int indicatorGap = 6;
} // namespace

void DSButton::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        m_spin.start();
    else
        m_spin.stop();
    updateGeometry();
    update();
}

QMargins DSButton::padding() const
{
    return m_style == Style::primary ? QMargins(16, 7, 16, 7) : QMargins(14, 6, 14, 6);
}

QSize DSButton::sizeHint() const
{
    const QFontMetrics fm(font());
    QSize s(fm.horizontalAdvance(text()), fm.height());
    if (!icon().isNull())
        s.rwidth() += iconSize().width() + 6;
    if (m_busy)
        s.rwidth() += indicatorSize + indicatorGap;
    const QMargins m = padding();
    return s.grownBy(m);
}

void DSButton::paintEvent(QPaintEvent*)
{
    const bool dark = DS::isDark(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.45);
    else if (isDown())
        p.setOpacity(0.7);

    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, 7, 7);
    QColor textColor;
    if (m_style == Style::primary) {
        p.fillPath(shape, DS::focusFill);
        textColor = Qt::white;
    } else {
        p.fillPath(shape, dark ? DS::ink900 : DS::ink50);
        p.setPen(QPen(dark ? DS::ink400 : DS::ink200, 1));
        p.drawPath(shape);
        textColor = dark ? QColor(Qt::white) : DS::ink900;
    }
    if (hasFocus()) {
        p.setPen(QPen(DS::focusBright, 2));
        p.drawPath(shape);
    }

    QRect content = rect().marginsRemoved(padding());
    if (!icon().isNull()) {
        const QFontMetrics fm(font());
        const int width = iconSize().width() + 6 + fm.horizontalAdvance(text());
        const int left = rect().center().x() - width / 2;
        const QRect iconRect(left, rect().center().y() - iconSize().height() / 2,
                             iconSize().width(), iconSize().height());
        icon().paint(&p, iconRect);
        content.setLeft(iconRect.right() + 7);
        p.setPen(textColor);
        p.setFont(font());
        p.drawText(content, Qt::AlignVCenter | Qt::AlignLeft, text());
        return;
    }
    if (m_busy) {
        // The indicator and the text, centred together.
        const QFontMetrics fm(font());
        const int width = indicatorSize + indicatorGap + fm.horizontalAdvance(text());
        const int left = rect().center().x() - width / 2;
        const QRectF ring(left + 1.5, rect().center().y() - indicatorSize / 2.0 + 1.5,
                          indicatorSize - 3, indicatorSize - 3);
        QColor faint = textColor;
        faint.setAlphaF(0.3);
        p.setPen(QPen(faint, 2));
        p.drawEllipse(ring);
        p.setPen(QPen(textColor, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, -m_angle * 16, 100 * 16);
        p.setPen(textColor);
        p.setFont(font());
        p.drawText(QRect(left + indicatorSize + indicatorGap, 0, width, height()),
                   Qt::AlignVCenter | Qt::AlignLeft, text());
        return;
    }
    p.setPen(textColor);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, text());
}

void DSButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QPushButton::changeEvent(event);
}
