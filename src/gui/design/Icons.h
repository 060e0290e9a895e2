#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The design's symbols by name ("checkmark.circle.fill", "waveform", …). Each is an SVG shipped
// in the application's resources, drawn in one colour; where the freedesktop theme has a
// fitting icon, symbol() prefers it so the application matches the desktop.
namespace Icons {

// The symbol in the given colour.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);
QIcon tinted(const QString& name, const QColor& color);
// The theme's icon where one fits, else the symbol in the colour given.
QIcon symbol(const QString& name, const QColor& color);
// Whether the resources hold the symbol.
bool exists(const QString& name);

} // namespace Icons
