#pragma once

#include <QPointer>
#include <QWidget>

// Lays a panel over another widget: a dimmed backdrop covering it, the panel centred on top.
// While it shows, Tab and Shift+Tab go round the panel's own controls only and Escape asks to
// close it; once it is gone, focus goes back where it was. Used for the audit panel and the
// binding-conflict card.
class PanelOverlay : public QWidget {
    Q_OBJECT

public:
    // host: the widget to cover (the overlay follows its size). maxWidth: the panel's widest.
    PanelOverlay(QWidget* host, int maxWidth);

    // Shows the panel (the overlay takes ownership); nullptr hides the overlay.
    void setPanel(QWidget* panel);
    QWidget* panel() const { return m_panel; }

Q_SIGNALS:
    // Escape was pressed inside the panel: the owner closes it as its cancel button would.
    void dismissRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    QWidget* m_host;
    int m_maxWidth;
    QWidget* m_panel = nullptr;
    QPointer<QWidget> m_returnFocus; // where focus was before the panel took it
};
