#pragma once

#include <QWidget>
#include <vector>

class ListenPlayer;
class QLabel;
class QToolButton;
class WaveformBar;

// Hearing a recording in the detail pane: play/pause, the waveform as seek bar, the time, and
// the reason when the recording cannot be played.
class ListenBar : public QWidget {
    Q_OBJECT

public:
    explicit ListenBar(ListenPlayer& player, QWidget* parent = nullptr);

    void setBars(std::vector<float> bars);
    WaveformBar* waveform() const { return m_wave; }

private:
    void refresh();

    ListenPlayer& m_player;
    QToolButton* m_play;
    WaveformBar* m_wave;
    QLabel* m_time;
    QLabel* m_problem;
};
