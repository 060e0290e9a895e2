#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// The modal questions the application asks. Every alert goes through here so tests answer
// them and nothing blocks in a test; MessageBoxDialogs asks the user.
class Dialogs {
public:
    struct Alert {
        enum class Style { warning, informational, critical };
        QString title;
        QString text;
        QStringList buttons;          // the first is the default and the only one that confirms
        Style style = Style::warning; //
        int destructiveButton = -1;   // index of a button that destroys something, or -1
    };

    virtual ~Dialogs() = default;
    // The index of the button chosen; -1 when the alert was closed without one.
    virtual int ask(const Alert& alert) = 0;
    // An alert with a one-line text field: its text when the first button was chosen.
    virtual std::optional<QString> askText(const Alert& alert, const QString& prefill) = 0;

    // Whether the first button was chosen.
    bool confirm(const Alert& alert) { return ask(alert) == 0; }
};

// Qt's message boxes, parented to whatever window is active, the application raised first.
class MessageBoxDialogs : public Dialogs {
public:
    int ask(const Alert& alert) override;
    std::optional<QString> askText(const Alert& alert, const QString& prefill) override;
};
