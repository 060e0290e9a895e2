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
    // The recording's length as the list shows it (whole seconds; 0 when unknown). Shown as
    // the total, so list and player agree: the decoded length falls a few milliseconds short
    // of the pen's (the codec's lead-in), which would cut a whole second off.
    void setListedLength(int seconds);
    WaveformBar* waveform() const { return m_wave; }

private:
    void refresh();

    ListenPlayer& m_player;
    QToolButton* m_play;
    WaveformBar* m_wave;
    QLabel* m_time;
    QLabel* m_problem;
    int m_listedLength = 0;
};
