#pragma once

#include <QWidget>

// Lays a panel over another widget: a dimmed backdrop covering it, the panel centred on top,
// focus kept inside while it shows. Used for the audit panel and the binding-conflict card.
class PanelOverlay : public QWidget {
    Q_OBJECT

public:
    // host: the widget to cover (the overlay follows its size). maxWidth: the panel's widest.
    PanelOverlay(QWidget* host, int maxWidth);

    // Shows the panel (the overlay takes ownership); nullptr hides the overlay.
    void setPanel(QWidget* panel);
    QWidget* panel() const { return m_panel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    QWidget* m_host;
    int m_maxWidth;
    QWidget* m_panel = nullptr;
};
