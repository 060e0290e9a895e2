#include "MainWindow.h"

#include "AppModel.h"
#include "window/RootContentView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString geometryKey = u"mindvault.main/geometry"_s;
}

MainWindow::MainWindow(AppModel& model, Dialogs& dialogs, QString stateFile, QWidget* parent)
    : QMainWindow(parent), m_stateFile(std::move(stateFile)),
      m_root(new RootContentView(model, dialogs))
{
    setWindowTitle(u"Mindvault"_s);
    setMinimumSize(860, 520);
    resize(1000, 640);
    setCentralWidget(m_root);
    const QSettings settings(m_stateFile, QSettings::IniFormat);
    const QByteArray saved = settings.value(geometryKey).toByteArray();
    if (!saved.isEmpty()) {
        restoreGeometry(saved);
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // First run: centred on the main screen.
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, [&model] { model.actions.quit(); });
}

MainWindow::~MainWindow()
{
    saveGeometryState();
}

void MainWindow::saveGeometryState() const
{
    QSettings settings(m_stateFile, QSettings::IniFormat);
    settings.setValue(geometryKey, saveGeometry());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    saveGeometryState();
    if (m_closeHides) {
        event->accept();
        return;
    }
    event->ignore();
    showMinimized();
}
