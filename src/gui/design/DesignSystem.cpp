#include "DesignSystem.h"

#include <QApplication>
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

QFont font(double points, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPixelSize(qRound(points));
    f.setWeight(weight);
    return f;
}

} // namespace DS
