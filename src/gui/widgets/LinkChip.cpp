#include "LinkChip.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

LinkChip::LinkChip(const QString& title, LinkState state, QWidget* parent)
    : QWidget(parent), m_title(title), m_state(state), m_icon(new QLabel),
      m_label(new QLabel(title))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    row->addWidget(m_icon);
    row->addWidget(m_label);
    m_label->setFont(DS::font(12));
    restyle();
}

void LinkChip::setState(LinkState state)
{
    if (state == m_state)
        return;
    m_state = state;
    restyle();
}

QString LinkChip::symbolName(LinkState state)
{
    switch (state) {
    case LinkState::done:
        return u"checkmark.circle.fill"_s;
    case LinkState::active:
        return u"arrow.down.circle.fill"_s;
    case LinkState::failed:
        return u"exclamationmark.triangle.fill"_s;
    case LinkState::skipped:
        return u"minus.circle"_s;
    case LinkState::pending:
        break;
    }
    return u"circle.dotted"_s;
}

QColor LinkChip::symbolColor(LinkState state, bool dark)
{
    switch (state) {
    case LinkState::done:
        return DS::ok;
    case LinkState::active:
        return DS::accent(dark);
    case LinkState::failed:
        return DS::bad;
    default:
        return DS::secondaryText(dark);
    }
}

QString LinkChip::stateName(LinkState state)
{
    static const QStringList names{u"完成"_s, u"进行中"_s, u"等待"_s, u"失败"_s, u"跳过"_s};
    return names.value(int(state));
}

void LinkChip::restyle()
{
    const bool dark = DS::isDark(*this);
    m_icon->setPixmap(
        Icons::pixmap(symbolName(m_state), 13, symbolColor(m_state, dark), devicePixelRatioF()));
    const bool quiet = m_state == LinkState::pending || m_state == LinkState::skipped;
    QPalette p = m_label->palette();
    p.setColor(QPalette::WindowText, quiet ? DS::secondaryText(dark) : DS::primaryText(dark));
    m_label->setPalette(p);
    m_icon->setAccessibleName(stateName(m_state));
    setAccessibleName(m_title + u"："_s + stateName(m_state));
}

void LinkChip::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        restyle();
    QWidget::changeEvent(event);
}
