#include "Dialogs.h"
#include "design/DesignSystem.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QMessageBox::Icon iconOf(Dialogs::Alert::Style style)
{
    switch (style) {
    case Dialogs::Alert::Style::informational:
        return QMessageBox::Information;
    case Dialogs::Alert::Style::critical:
        return QMessageBox::Critical;
    default:
        return QMessageBox::Warning;
    }
}

// The tray menu can ask while no window is shown: the alert then stands alone.
QWidget* parentWindow()
{
    QWidget* w = QApplication::activeWindow();
    if (w)
        w->raise();
    return w;
}

} // namespace

int MessageBoxDialogs::ask(const Alert& alert)
{
    QMessageBox box(parentWindow());
    box.setIcon(iconOf(alert.style));
    box.setWindowTitle(alert.title);
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        const QMessageBox::ButtonRole role =
            i == 0 ? (i == alert.destructiveButton ? QMessageBox::DestructiveRole
                                                   : QMessageBox::AcceptRole)
                   : QMessageBox::RejectRole;
        QPushButton* b = box.addButton(alert.buttons[i], role);
        if (i == 0)
            box.setDefaultButton(b);
        buttons << b;
    }
    box.activateWindow();
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

std::optional<QString> MessageBoxDialogs::askText(const Alert& alert, const QString& prefill)
{
    QDialog dialog(parentWindow());
    dialog.setWindowTitle(alert.title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* title = new QLabel(alert.title);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* text = new QLabel(alert.text);
    text->setWordWrap(true);
    auto* field = new QLineEdit(prefill);
    field->setFixedWidth(DS::scaled(60));
    field->setAccessibleName(alert.title);
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(alert.buttons.value(0), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    if (alert.buttons.size() > 1)
        buttons->addButton(alert.buttons[1], QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(field);
    layout->addWidget(buttons);
    dialog.setMaximumWidth(DS::scaled(420));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}
