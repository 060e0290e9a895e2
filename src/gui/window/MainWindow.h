#pragma once

#include <QMainWindow>
#include <QString>

class AppModel;
class Dialogs;
class RootContentView;

// The main window: 1000 × 640 (at least 860 × 520), titled "Mindvault", its geometry kept in
// a small settings file between runs. Closing it only hides it: the importer goes on in the
// tray. Without a tray (closeHides false) closing minimises it, since the window is then the
// application's only face; Ctrl+Q quits in both cases.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AppModel& model, Dialogs& dialogs, QString stateFile, QWidget* parent = nullptr);
    ~MainWindow() override;

    void setCloseHides(bool hides) { m_closeHides = hides; }
    RootContentView& root() const { return *m_root; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void saveGeometryState() const;

    QString m_stateFile;
    bool m_closeHides = true;
    RootContentView* m_root;
};
