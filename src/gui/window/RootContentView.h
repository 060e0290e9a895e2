#pragma once

#include <QStackedWidget>

class AppModel;
class Dialogs;
class MainWindowView;
class WelcomeView;

// The main window's content by sign-in state: a spinner line while the stored sign-in is being
// checked, the welcome page when signed out, the main view when signed in. The check runs when
// it is first shown.
class RootContentView : public QStackedWidget {
    Q_OBJECT

public:
    RootContentView(AppModel& model, Dialogs& dialogs, QWidget* parent = nullptr);

    WelcomeView& welcome() const { return *m_welcome; }
    MainWindowView& main() const { return *m_main; }
    QWidget& checking() const { return *m_checking; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void follow();
    void restyle();

    AppModel& m_model;
    QWidget* m_checking;
    WelcomeView* m_welcome;
    MainWindowView* m_main;
    bool m_checked = false;
};
