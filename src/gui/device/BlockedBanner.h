#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QPushButton;

// Shown while uploads are blocked: why, and the one thing to do about it — sign in again when
// the login expired, else look at the log.
class BlockedBanner : public QWidget {
    Q_OBJECT

public:
    explicit BlockedBanner(AppModel& model, QWidget* parent = nullptr);

    void refresh();

private:
    void act();

    AppModel& m_model;
    QLabel* m_text;
    QPushButton* m_button;
};
