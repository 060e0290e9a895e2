#include "audit/PanelOverlay.h"

#include <QEvent>
#include <QPainter>

PanelOverlay::PanelOverlay(QWidget* host, int maxWidth)
    : QWidget(host), m_host(host), m_maxWidth(maxWidth)
{
    host->installEventFilter(this);
    hide();
}

void PanelOverlay::setPanel(QWidget* panel)
{
    if (panel == m_panel) {
        return;
    }
    if (m_panel) {
        m_panel->deleteLater();
        m_panel->hide();
    }
    m_panel = panel;
    if (!m_panel) {
        hide();
        return;
    }
    m_panel->setParent(this);
    m_panel->setAutoFillBackground(true);
    setGeometry(m_host->rect());
    place();
    m_panel->show();
    show();
    raise();
    m_panel->setFocus(Qt::OtherFocusReason);
    if (QWidget* first = m_panel->nextInFocusChain(); first && !m_panel->hasFocus()) {
        first->setFocus(Qt::TabFocusReason);
    }
}

bool PanelOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_host && event->type() == QEvent::Resize) {
        setGeometry(m_host->rect());
    }
    return QWidget::eventFilter(watched, event);
}

void PanelOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(22, 24, 31, 90));
}

void PanelOverlay::resizeEvent(QResizeEvent*)
{
    place();
}

void PanelOverlay::place()
{
    if (!m_panel) {
        return;
    }
    const int width = std::min(m_maxWidth, this->width() - 48);
    const int height = std::min(std::max(m_panel->sizeHint().height(), 200), this->height() - 48);
    const bool tall = m_panel->sizePolicy().verticalPolicy() == QSizePolicy::Expanding;
    const int h = tall ? this->height() - 48 : height;
    m_panel->setGeometry((this->width() - width) / 2, (this->height() - h) / 2, width, h);
}
