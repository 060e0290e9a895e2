#pragma once

#include "sync/BindMismatch.h"

#include <QCoro/QCoroTask>
#include <QFrame>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// Stops the user when the pen was last synced into another account: say which two accounts,
// take a new name for the pen, and go on only when the user confirms.
class BindMismatchCard : public QFrame {
    Q_OBJECT

public:
    // Answers whether the pen could be bound under the name.
    using ConfirmFn = std::function<QCoro::Task<bool>(QString)>;

    BindMismatchCard(BindMismatch mismatch, ConfirmFn onConfirm, std::function<void()> onCancel,
                     QWidget* parent = nullptr);

    const BindMismatch& mismatch() const { return m_mismatch; }

private:
    QCoro::Task<> confirm();
    void setBusy(bool busy);

    BindMismatch m_mismatch;
    ConfirmFn m_onConfirm;
    std::function<void()> m_onCancel;
    QLineEdit* m_name;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
    QLabel* m_error;
    QString m_confirmText;
};
