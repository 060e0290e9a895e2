#include "DesignSystem.h"

#include <QApplication>
#include <QFontInfo>
#include <QPalette>
#include <QWidget>

namespace DS {

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

bool isDark(const QWidget& widget)
{
    return isDark(widget.palette());
}

QColor windowBackground(bool dark)
{
    return dark ? QColor(22, 24, 28) : QApplication::palette().color(QPalette::Window);
}

QColor primaryText(bool dark)
{
    return dark ? ink50 : ink900;
}

QColor secondaryText(bool dark)
{
    return dark ? ink300 : muted;
}

QColor cardFill(bool dark)
{
    return dark ? ink900 : QColor(Qt::white);
}

QColor accent(bool dark)
{
    return dark ? focusBright : iris;
}

namespace {
// The design's body text; its other sizes are read relative to it.
constexpr double designBody = 13.0;
} // namespace

QFont font(double points, QFont::Weight weight)
{
    QFont f = QApplication::font();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * points / designBody);
    else
        f.setPixelSize(qMax(1, qRound(f.pixelSize() * points / designBody)));
    f.setWeight(weight);
    return f;
}

int scaled(int designPixels)
{
    const double body = QFontInfo(QApplication::font()).pixelSize();
    return qRound(designPixels * qMax(1.0, body / designBody));
}

} // namespace DS
