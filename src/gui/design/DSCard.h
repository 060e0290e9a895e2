#pragma once

#include <QFrame>

// A card: the content padded on a rounded fill (white, or dark in dark appearance) with a
// faint shadow. Put the content into its layout.
class DSCard : public QFrame {
    Q_OBJECT

public:
    explicit DSCard(QWidget* parent = nullptr, int radius = 12, int padding = 16);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int m_radius;
};
