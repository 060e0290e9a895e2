#include "EmptyHint.h"

#include "design/DesignSystem.h"
#include "design/Icons.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

EmptyHint::EmptyHint(const QString& icon, const QString& title,
                     const std::optional<QString>& detail, QWidget* parent)
    : QWidget(parent), m_icon(icon), m_symbol(new QLabel), m_title(new QLabel(title)),
      m_detail(new QLabel(detail.value_or(QString())))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(8);
    column->addStretch();
    for (QLabel* l : {m_symbol, m_title, m_detail}) {
        l->setAlignment(Qt::AlignCenter);
        column->addWidget(l);
    }
    column->addStretch();
    m_title->setFont(DS::font(16));
    m_detail->setFont(DS::font(12));
    m_detail->setWordWrap(true);
    m_detail->setVisible(detail.has_value());
    setAccessibleName(title);
    restyle();
}

QString EmptyHint::title() const
{
    return m_title->text();
}

QString EmptyHint::detail() const
{
    return m_detail->text();
}

void EmptyHint::restyle()
{
    const bool dark = DS::isDark(*this);
    m_symbol->setPixmap(Icons::pixmap(m_icon, 28, DS::secondaryText(dark), devicePixelRatioF()));
    QPalette p = m_detail->palette();
    p.setColor(QPalette::WindowText, DS::secondaryText(dark));
    m_detail->setPalette(p);
    m_symbol->setPalette(p);
}

void EmptyHint::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        restyle();
    QWidget::changeEvent(event);
}
