#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// Desktop notifications: the freedesktop notification service over D-Bus, and `notify-send`
// (started with an argument list, never through a shell) when the service is missing or
// refuses. Fire and forget: nothing here reports failure.
class Notify : public QObject {
    Q_OBJECT
public:
    // Starts a program detached; returns whether it started.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    explicit Notify(QDBusConnection bus = QDBusConnection::sessionBus(), Launcher launcher = {},
                    QObject* parent = nullptr);

    // Once at start: asks whether the notification service answers.
    void request();
    void send(const QString& body, const QString& title);

    // The fallback's command line for a notification.
    static QStringList fallbackArguments(const QString& body, const QString& title);

private:
    void fallback(const QString& body, const QString& title);

    QDBusConnection m_bus;
    Launcher m_launcher;
    enum class Authorized { Unknown, Yes, No };
    Authorized m_authorized = Authorized::Unknown;
};
