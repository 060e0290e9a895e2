#pragma once

#include <QWidget>

class AppModel;
class Dialogs;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

// The main window's top bar: the service and account, whether a sync runs, "立即同步", the way
// into the service's web pages, and the account menu: the folders, the settings, signing out
// and quitting.
class DeviceBar : public QWidget {
    Q_OBJECT

public:
    DeviceBar(AppModel& model, Dialogs& dialogs, QWidget* parent = nullptr);

    void refresh();

protected:
    void changeEvent(QEvent* event) override;

private:
    // Tints for the appearance: the symbols and the account in the secondary text colour.
    void restyle();
    void openVault();
    QMenu* accountMenu();

    AppModel& m_model;
    Dialogs& m_dialogs;
    QLabel* m_account;
    QLabel* m_syncing;
    QPushButton* m_sync;
    QPushButton* m_open;
    QToolButton* m_menu;
};
