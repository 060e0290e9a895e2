#include "StatusPill.h"

#include "design/DesignSystem.h"

#include <QPainter>
#include <QPainterPath>

StatusPill::StatusPill(const QString& text, Tone tone, QWidget* parent)
    : QWidget(parent), m_text(text), m_tone(tone)
{
    setFont(DS::font(11, QFont::Medium));
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusPill::set(const QString& text, Tone tone)
{
    m_text = text;
    m_tone = tone;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QColor StatusPill::color(Tone tone, bool dark)
{
    switch (tone) {
    case Tone::ok:
        return DS::ok;
    case Tone::warn:
        return DS::warn;
    case Tone::bad:
        return DS::bad;
    case Tone::idle:
        break;
    }
    return dark ? DS::ink300 : DS::ink400;
}

QSize StatusPill::sizeHint() const
{
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(m_text) + 14, fm.height() + 4};
}

void StatusPill::paintEvent(QPaintEvent*)
{
    const QColor c = color(m_tone, DS::isDark(*this));
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    const QRectF r = rect();
    capsule.addRoundedRect(r, r.height() / 2, r.height() / 2);
    QColor fill = c;
    fill.setAlphaF(0.16f);
    p.fillPath(capsule, fill);
    p.setPen(c);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, m_text);
}
