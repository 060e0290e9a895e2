#include "library/WaveformBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {

const QColor played(90, 79, 230);     // focus
const QColor unplayed(211, 215, 224); // ink200

} // namespace

WaveformBar::WaveformBar(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("播放进度"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumHeight(32);
    setCursor(Qt::PointingHandCursor);
}

void WaveformBar::setBars(std::vector<float> bars)
{
    m_bars = std::move(bars);
    update();
}

void WaveformBar::setProgress(double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    if (progress == m_progress) {
        return;
    }
    m_progress = progress;
    setAccessibleDescription(QStringLiteral("已播放 %1%").arg(qRound(progress * 100)));
    update();
}

void WaveformBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 2, -1, -2);
    const double split = area.left() + area.width() * m_progress;
    const double mid = area.center().y();
    if (m_bars.empty()) {
        p.fillRect(QRectF(area.left(), mid - 1, area.width(), 2), unplayed);
        p.fillRect(QRectF(area.left(), mid - 1, split - area.left(), 2), played);
    } else {
        const double slot = area.width() / double(m_bars.size());
        const double width = std::max(1.0, slot * 0.6);
        for (size_t i = 0; i < m_bars.size(); ++i) {
            const double h =
                std::max(2.0, double(std::clamp(m_bars[i], 0.0f, 1.0f)) * area.height());
            const double x = area.left() + slot * double(i) + (slot - width) / 2;
            p.fillRect(QRectF(x, mid - h / 2, width, h),
                       x + width / 2 <= split ? played : unplayed);
        }
    }
    if (hasFocus()) {
        p.setPen(QPen(played, 1, Qt::DotLine));
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

void WaveformBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        seekTo(event->position().x() / std::max(1, width()));
    }
}

void WaveformBar::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton) {
        seekTo(event->position().x() / std::max(1, width()));
    }
}

void WaveformBar::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        seekTo(m_progress - m_step);
        break;
    case Qt::Key_Right:
        seekTo(m_progress + m_step);
        break;
    case Qt::Key_Home:
        seekTo(0);
        break;
    case Qt::Key_End:
        seekTo(1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void WaveformBar::seekTo(double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    setProgress(progress);
    Q_EMIT seekRequested(progress);
}
