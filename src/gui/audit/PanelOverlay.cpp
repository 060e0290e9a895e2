#include "audit/PanelOverlay.h"

#include "design/DesignSystem.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QShortcut>

PanelOverlay::PanelOverlay(QWidget* host, int maxWidth)
    : QWidget(host), m_host(host), m_maxWidth(maxWidth)
{
    host->installEventFilter(this);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &PanelOverlay::dismissRequested);
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
        QWidget* back = m_returnFocus.data();
        if (back && back->isVisible() && back->isEnabled()) {
            back->setFocus(Qt::OtherFocusReason);
        }
        m_returnFocus.clear();
        return;
    }
    if (QWidget* before = QApplication::focusWidget(); before && !isAncestorOf(before)) {
        m_returnFocus = before;
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

bool PanelOverlay::focusNextPrevChild(bool next)
{
    if (!m_panel) {
        return QWidget::focusNextPrevChild(next);
    }
    // The window's focus chain, cut down to the panel's own reachable controls.
    QList<QWidget*> stops;
    for (QWidget* w = m_panel->nextInFocusChain(); w && w != m_panel; w = w->nextInFocusChain()) {
        if (m_panel->isAncestorOf(w) && w->isVisible() && w->isEnabled() && !w->focusProxy() &&
            (w->focusPolicy() & Qt::TabFocus)) {
            stops << w;
        }
    }
    if (stops.isEmpty()) {
        // The panel is going away (hidden first, then dropped): let focus leave it.
        return QWidget::focusNextPrevChild(next);
    }
    const qsizetype at = stops.indexOf(QApplication::focusWidget());
    const qsizetype n = stops.size();
    const qsizetype to = at < 0 ? 0 : (at + (next ? 1 : n - 1)) % n;
    stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
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
    QColor backdrop = DS::ink900;
    backdrop.setAlpha(90);
    p.fillRect(rect(), backdrop);
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
