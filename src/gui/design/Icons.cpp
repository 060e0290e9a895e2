#include "Icons.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

using namespace Qt::Literals::StringLiterals;

// The symbols live in this static library: registering them here makes sure the linker keeps
// them whenever a symbol is drawn.
static void registerSymbols()
{
    static const bool once = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    Q_UNUSED(once);
}

namespace Icons {

namespace {

QString resource(const QString& name)
{
    registerSymbols();
    return u":/symbols/icons/"_s + name + u".svg"_s;
}

// Freedesktop names that say the same thing as the design's symbol.
QString themeName(const QString& name)
{
    static const QHash<QString, QString> names{
        {u"exclamationmark.triangle"_s, u"dialog-warning"_s},
        {u"arrow.triangle.2.circlepath"_s, u"view-refresh"_s},
        {u"chevron.right"_s, u"go-next"_s},
        {u"star.fill"_s, u"starred"_s},
    };
    return names.value(name);
}

} // namespace

bool exists(const QString& name)
{
    return QFile::exists(resource(name));
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio)
{
    const int px = qRound(size * devicePixelRatio);
    QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource(name));
    {
        QPainter p(&image);
        renderer.render(&p);
        // The drawing is black on clear with white details: keep its shape, take the colour.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), color);
    }
    // White details (a tick inside a filled circle) stay clear: cut them out of the tinted
    // shape by rendering them again as holes.
    QImage holes(px, px, QImage::Format_ARGB32_Premultiplied);
    holes.fill(Qt::transparent);
    {
        QPainter p(&holes);
        renderer.render(&p);
    }
    for (int y = 0; y < px; ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* in = reinterpret_cast<const QRgb*>(holes.constScanLine(y));
        for (int x = 0; x < px; ++x) {
            const int white = qMin(qRed(in[x]), qAlpha(in[x]));
            if (white > 0) {
                const double keep = 1.0 - white / 255.0;
                out[x] = qRgba(int(qRed(out[x]) * keep), int(qGreen(out[x]) * keep),
                               int(qBlue(out[x]) * keep), int(qAlpha(out[x]) * keep));
            }
        }
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon tinted(const QString& name, const QColor& color)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64})
        icon.addPixmap(pixmap(name, size, color));
    return icon;
}

QIcon symbol(const QString& name, const QColor& color)
{
    const QString theme = themeName(name);
    if (!theme.isEmpty() && QIcon::hasThemeIcon(theme))
        return QIcon::fromTheme(theme);
    return tinted(name, color);
}

} // namespace Icons
