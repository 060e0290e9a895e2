#include "TrayIcon.h"

#include "AppModel.h"
#include "design/DesignSystem.h"
#include "design/Icons.h"
#include "tray/TrayMenu.h"
#include "tray/TrayTexts.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

using namespace Qt::Literals::StringLiterals;

namespace {

QPixmap draw(int size, bool failed, const QString& badge)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A filled disc carries the symbol so it reads on light and dark panels alike.
    const QRectF disc(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    p.setPen(Qt::NoPen);
    p.setBrush(failed ? DS::warn : DS::iris);
    p.drawEllipse(disc);
    const int inner = qRound(size * 0.6);
    const QString symbol = failed ? u"exclamationmark.triangle"_s : u"app"_s;
    p.drawPixmap((size - inner) / 2, (size - inner) / 2, Icons::pixmap(symbol, inner, Qt::white));
    if (badge.isEmpty())
        return pixmap;

    // The badge is drawn into a pixmap of a fixed pixel size: its font is sized in pixels too.
    QFont font = QGuiApplication::font();
    font.setPixelSize(qMax(7, qRound(size * 0.42)));
    font.setWeight(QFont::Bold);
    p.setFont(font);
    const QFontMetrics fm(font);
    const int height = fm.height() - 1;
    const int width = qMin(size, qMax(height, fm.horizontalAdvance(badge) + size / 8));
    const QRectF box(size - width, size - height, width, height);
    QPainterPath capsule;
    capsule.addRoundedRect(box, height / 2.0, height / 2.0);
    p.fillPath(capsule, DS::ink900);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, badge);
    return pixmap;
}

} // namespace

TrayIcon::TrayIcon(AppModel& model, TrayMenu& menu, QObject* parent)
    : QObject(parent), m_model(model), m_tray(new QSystemTrayIcon(this))
{
    m_tray->setContextMenu(&menu.menu());
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    m_model.actions.openMainWindow();
            });
    connect(&model, &AppModel::phaseChanged, this, &TrayIcon::follow);
    follow();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show()
{
    m_tray->show();
}

QIcon TrayIcon::render(const SyncPhase& phase)
{
    const bool failed = phase.is(SyncPhase::Kind::Failed);
    const QString badge = AppModel::menuBarSuffix(phase).trimmed();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(draw(size, failed, badge));
    return icon;
}

void TrayIcon::follow()
{
    const SyncPhase& phase = m_model.phase();
    m_tray->setToolTip(TrayTexts::toolTip(phase));
    const QString drawn =
        (phase.is(SyncPhase::Kind::Failed) ? u"!"_s : u""_s) + AppModel::menuBarSuffix(phase);
    if (drawn == m_drawn && !m_tray->icon().isNull())
        return;
    m_drawn = drawn;
    m_tray->setIcon(render(phase));
}
