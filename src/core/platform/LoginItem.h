#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Starting the application when the user logs in: an XDG autostart entry
// ("<config home>/autostart/kestrel.desktop"). The entry is written atomically, so a crash never
// leaves a half entry that the session would try to run.
class LoginItem {
public:
    // folder: the autostart folder; command: the program and its arguments the session runs.
    LoginItem(QString folder, QStringList command);
    // The per-user autostart folder ($XDG_CONFIG_HOME/autostart) and this program.
    LoginItem();

    // The entry exists and the desktop has not been told to skip it.
    bool enabled() const;
    // Writes (on) or removes (off) the entry; the reason when that failed.
    std::optional<QString> set(bool on) const;
    // "已开启" or "未开启".
    QString statusText() const;

    QString path() const;
    // The entry's Exec value: each argument quoted when it needs it, as the format wants.
    static QString execLine(const QStringList& command);

private:
    QString m_folder;
    QStringList m_command;
};
