#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running application per user: the first instance listens on a local socket in the
// user's runtime folder; a later one finds it there, asks it to show its window and leaves.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // socketPath: empty means "<runtime folder>/kestrel-desktop.sock".
    explicit SingleInstance(QString socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this is the first instance and now listens. False: another one runs and was handed
    // the request ("raise": show the window; "menu": pop the tray menu up at the pointer;
    // "sync-now": start a round; "quit": end the application).
    bool claim(const QByteArray& request = "raise");

    const QString& socketPath() const { return m_path; }

Q_SIGNALS:
    // A later launch asked for the window.
    void raiseRequested();
    // A later launch asked for the menu.
    void menuRequested();
    // A later launch asked for a round now.
    void syncNowRequested();
    // A later launch asked the application to end.
    void quitRequested();

private:
    QString m_path;
    QLocalServer* m_server = nullptr;
};
