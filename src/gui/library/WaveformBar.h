#pragma once

#include <QWidget>
#include <vector>

// The seek bar of the listen control, drawn as the recording's waveform: the played part in
// the accent colour. Click or drag to move; arrow keys step, Home and End jump.
class WaveformBar : public QWidget {
    Q_OBJECT

public:
    explicit WaveformBar(QWidget* parent = nullptr);

    // Bar heights 0...1; empty draws a flat line (the outline is not known yet).
    void setBars(std::vector<float> bars);
    const std::vector<float>& bars() const { return m_bars; }
    // The played share, 0...1.
    void setProgress(double progress);
    double progress() const { return m_progress; }
    // How far one arrow key moves, as a share of the recording.
    void setStep(double step) { m_step = step; }

    QSize sizeHint() const override { return {480, 48}; }
    QSize minimumSizeHint() const override { return {160, 32}; }

Q_SIGNALS:
    void seekRequested(double progress);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void seekTo(double progress);

    std::vector<float> m_bars;
    double m_progress = 0;
    double m_step = 0.05;
};
