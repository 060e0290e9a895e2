#pragma once

#include <QCoro/QCoroTask>
#include <QWidget>

class AppModel;
class DSButton;
class QLabel;
class QLineEdit;

// The first-run page shown while nobody is signed in: what setting up takes, and the e-mail and
// password form. The password stays in its field only while the request runs.
class WelcomeView : public QWidget {
    Q_OBJECT

public:
    explicit WelcomeView(AppModel& model, QWidget* parent = nullptr);

    QLineEdit& email() const { return *m_email; }
    QLineEdit& password() const { return *m_password; }
    DSButton& signInButton() const { return *m_button; }
    // The error row's text; empty when hidden.
    QString errorText() const;
    bool busy() const { return m_busy; }

    // What the button does: runs the model's signIn and shows what it answered.
    QCoro::Task<> submit();
    // Puts the keyboard in the field still to fill: the e-mail when it is empty, else the
    // password.
    void focusInput();
    // Whether step i (0-based) shows its done mark.
    bool stepDone(int step) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void refreshSteps();
    void restyle();

    AppModel& m_model;
    QLineEdit* m_email;
    QLineEdit* m_password;
    DSButton* m_button;
    QWidget* m_errorRow;
    QLabel* m_errorIcon;
    QLabel* m_errorText;
    QList<QLabel*> m_secondary;
    QList<QLabel*> m_doneMarks;
    bool m_busy = false;
    std::optional<QString> m_error;
};
