#pragma once

#include <QColor>
#include <QFont>

class QPalette;
class QWidget;

// The one palette every window view takes its colours from, and the few derived choices
// (dark or light appearance, window background, secondary text, fonts).
namespace DS {

inline const QColor ink50{244, 245, 248};
inline const QColor ink200{211, 215, 224};
inline const QColor ink300{144, 150, 164};
inline const QColor glyph{139, 146, 161};
inline const QColor muted{111, 118, 136};
inline const QColor ink400{100, 107, 125};
inline const QColor ink900{22, 24, 31};
inline const QColor focus{90, 79, 230};
inline const QColor focusFill{90, 79, 230};
inline const QColor iris{90, 79, 230};
inline const QColor focusBright{123, 128, 255};
inline const QColor focusSoft{238, 238, 255};
inline const QColor ok{22, 163, 74};
inline const QColor warn{217, 119, 6};
inline const QColor bad{220, 38, 38};

// Qt 6.4 has no colour-scheme API: the desktop's palette says it, by its window colour.
bool isDark(const QPalette& palette);
bool isDark(const QWidget& widget);

QColor windowBackground(bool dark); // the desktop's own in light, #16181C in dark
QColor primaryText(bool dark);
QColor secondaryText(bool dark);
QColor cardFill(bool dark);
// The accent of active chips and links: iris on light, the brighter violet on dark.
QColor accent(bool dark);

// The desktop's font at a size given in the design's points, read against the design's 13-point
// body text: the desktop's body size stands for 13, so text enlarged in the desktop's settings
// is enlarged here too.
QFont font(double points, QFont::Weight weight = QFont::Normal);
// A width the design gives in pixels for a box of text, grown with the desktop's text when that
// is larger than the design's body (never shrunk).
int scaled(int designPixels);

} // namespace DS
