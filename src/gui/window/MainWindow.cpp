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
#include <QTimer>

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
    // Spelled out: a platform whose key scheme has no quit binding (offscreen, say) would have
    // none.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, [&model] { model.actions.quit(); });
    QCoreApplication::instance()->installEventFilter(this);
}

// Quitting closes every window first and gives up when one refuses: while the application
// handles its quit request, this window's close goes through. Should another window refuse,
// the next user close minimises again.
bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        m_quitting = true;
        QTimer::singleShot(0, this, [this] { m_quitting = false; });
    }
    return QMainWindow::eventFilter(watched, event);
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
    if (m_closeHides || m_quitting) {
        event->accept();
        return;
    }
    event->ignore();
    showMinimized();
}
