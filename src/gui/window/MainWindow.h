#pragma once

#include <QMainWindow>
#include <QString>

class AppModel;
class Dialogs;
class RootContentView;

// The main window: 1000 × 640 (at least 860 × 520), titled "Mindvault", its geometry kept in
// a small settings file between runs. Closing it only hides it: the importer goes on in the
// tray. Without a tray (closeHides false) the user's close minimises it, since the window is then
// the application's only face; quitting (Ctrl+Q, the menus) always quits.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AppModel& model, Dialogs& dialogs, QString stateFile, QWidget* parent = nullptr);
    ~MainWindow() override;

    void setCloseHides(bool hides) { m_closeHides = hides; }
    RootContentView& root() const { return *m_root; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveGeometryState() const;

    QString m_stateFile;
    bool m_closeHides = true;
    bool m_quitting = false; // the application is handling a quit request
    RootContentView* m_root;
};
