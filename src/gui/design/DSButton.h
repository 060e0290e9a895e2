#pragma once

#include <QPushButton>
#include <QTimer>

// The design's two button styles. Primary: white semibold text on the violet fill. Secondary:
// medium text on a light fill with an outline (dark fill, white text in dark appearance).
// Both are dimmed while pressed or disabled. A busy button turns a small progress indicator
// before its text.
class DSButton : public QPushButton {
    Q_OBJECT

public:
    enum class Style { primary, secondary };

    explicit DSButton(const QString& text, Style style = Style::primary, QWidget* parent = nullptr);

    Style style() const { return m_style; }
    void setBusy(bool busy);
    bool busy() const { return m_busy; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QMargins padding() const;

    Style m_style;
    bool m_busy = false;
    int m_angle = 0; // of the progress indicator's arc, in degrees
    QTimer m_spin;
};
