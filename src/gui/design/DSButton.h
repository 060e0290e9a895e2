#pragma once

#include <QPushButton>

// The design's two button styles. Primary: white semibold text on the violet fill. Secondary:
// medium text on a light fill with an outline (dark fill, white text in dark appearance).
// Both are dimmed while pressed or disabled.
class DSButton : public QPushButton {
    Q_OBJECT

public:
    enum class Style { primary, secondary };

    explicit DSButton(const QString& text, Style style = Style::primary, QWidget* parent = nullptr);

    Style style() const { return m_style; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QMargins padding() const;

    Style m_style;
};
