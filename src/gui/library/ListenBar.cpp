#include "library/ListenBar.h"

#include "design/DesignSystem.h"
#include "format/Fmt.h"
#include "library/ListenPlayer.h"
#include "library/WaveformBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

ListenBar::ListenBar(ListenPlayer& player, QWidget* parent) : QWidget(parent), m_player(player)
{
    m_play = new QToolButton;
    m_play->setObjectName(QStringLiteral("play"));
    m_play->setIconSize(QSize(24, 24));
    m_play->setAutoRaise(true);
    m_play->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_wave = new WaveformBar;
    m_wave->setObjectName(QStringLiteral("waveform"));
    m_time = new QLabel;
    m_time->setObjectName(QStringLiteral("time"));
    m_time->setMinimumWidth(
        m_time->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
    m_problem = new QLabel;
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: %1;").arg(DS::warn.name()));

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_play);
    row->addWidget(m_wave, 1);
    row->addWidget(m_time);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(m_problem);

    connect(m_play, &QToolButton::clicked, &m_player, &ListenPlayer::toggle);
    connect(m_wave, &WaveformBar::seekRequested, &m_player, &ListenPlayer::seek);
    connect(&m_player, &ListenPlayer::stateChanged, this, &ListenBar::refresh);
    connect(&m_player, &ListenPlayer::positionChanged, this, &ListenBar::refresh);
    refresh();
}

void ListenBar::setBars(std::vector<float> bars)
{
    m_wave->setBars(std::move(bars));
}

void ListenBar::setListedLength(int seconds)
{
    if (seconds == m_listedLength) {
        return;
    }
    m_listedLength = seconds;
    refresh();
}

void ListenBar::refresh()
{
    using S = ListenPlayer::State;
    const S state = m_player.state();
    const bool playing = state == S::playing;
    m_play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_play->setAccessibleName(playing ? QStringLiteral("暂停") : QStringLiteral("播放"));
    m_play->setToolTip(playing ? QStringLiteral("暂停（Ctrl+P）")
                               : QStringLiteral("播放（Ctrl+P）"));
    m_play->setEnabled(state == S::ready || state == S::playing || state == S::paused);
    m_wave->setEnabled(m_play->isEnabled());

    const double duration = m_player.duration();
    const double position = m_player.position();
    if (duration > 0) {
        m_wave->setProgress(position / duration);
        m_wave->setStep(std::min(1.0, 5.0 / duration));
        const double total = m_listedLength > 0 ? m_listedLength : duration;
        m_time->setText(Fmt::duration(std::min(position, total))
                            .replace(QStringLiteral("—"), QStringLiteral("0:00")) +
                        QStringLiteral(" / ") + Fmt::duration(total));
    } else {
        m_wave->setProgress(0);
        m_time->setText(state == S::loading ? QStringLiteral("正在打开…") : QString());
    }
    m_problem->setVisible(state == S::failed);
    m_problem->setText(m_player.problem());
}
