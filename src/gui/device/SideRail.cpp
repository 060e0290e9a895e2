#include "device/SideRail.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"

#include <QButtonGroup>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* entry(const QString& name, const QString& title, const QString& symbol,
                   const QKeySequence& key)
{
    auto* b = new QToolButton;
    b->setObjectName(name);
    b->setText(title);
    b->setIcon(Icons::symbol(symbol, DS::ink400));
    b->setIconSize(QSize(22, 22));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setCheckable(true);
    b->setAutoRaise(true);
    b->setShortcut(key);
    b->setToolTip(title + QStringLiteral("（") + key.toString(QKeySequence::NativeText) +
                  QStringLiteral("）"));
    b->setMinimumSize(64, 56);
    return b;
}

} // namespace

SideRail::SideRail(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sideRail"));
    m_library = entry(QStringLiteral("railLibrary"), QStringLiteral("内容"),
                      QStringLiteral("square.stack"), QKeySequence(Qt::CTRL | Qt::Key_1));
    m_library->setAccessibleName(QStringLiteral("内容"));
    m_device =
        entry(QStringLiteral("railDevice"), QStringLiteral("设备"),
              QStringLiteral("dot.radiowaves.left.and.right"), QKeySequence(Qt::CTRL | Qt::Key_2));
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(m_library);
    group->addButton(m_device);
    m_library->setChecked(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 12, 6, 12);
    column->setSpacing(6);
    column->addWidget(m_library);
    column->addWidget(m_device);
    column->addStretch(1);

    connect(m_library, &QToolButton::clicked, this, [this] { setSection(Section::library); });
    connect(m_device, &QToolButton::clicked, this, [this] { setSection(Section::device); });
    setDeviceConnected(false);
}

void SideRail::setSection(Section section)
{
    (section == Section::library ? m_library : m_device)->setChecked(true);
    if (section == m_section) {
        return;
    }
    m_section = section;
    Q_EMIT sectionChanged(section);
}

void SideRail::setDeviceConnected(bool connected)
{
    m_device->setAccessibleName(connected ? QStringLiteral("设备，录音笔已连接")
                                          : QStringLiteral("设备，录音笔未连接"));
}
