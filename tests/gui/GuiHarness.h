#pragma once

#include "AppState.h"
#include "DesktopShell.h"
#include "Dialogs.h"
#include "VirtualPen.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <optional>

class DeviceBinder;
class ManifestEdits;
class MindvaultDevServer;
class PenDeletions;
class SyncEngine;
class UploadQueue;

// Answers alerts from a script and remembers what was asked.
class ScriptedDialogs : public Dialogs {
public:
    int ask(const Alert& alert) override;
    std::optional<QString> askText(const Alert& alert, const QString& prefill) override;

    int answer = 1;                    // button index ask() returns
    std::optional<QString> textAnswer; // what askText() returns
    QList<Alert> asked;
    QStringList prefills;
};

// Remembers what would have gone to the desktop.
class RecordingShell : public DesktopShell {
public:
    void open(const QUrl& url) override { opened << url; }
    void reveal(const QString& path) override { revealed << path; }
    QList<QUrl> opened;
    QStringList revealed;
};

// The application's state on a temporary archive and a virtual pen, with the engine's pieces
// assembled as main does; with a stand-in service when asked for one.
class GuiHarness {
public:
    struct Options {
        bool service = false;
        std::string password = "right password";
    };

    GuiHarness();
    explicit GuiHarness(Options options);
    ~GuiHarness();

    SyncEngine& engine() { return *m_engine; }
    // Present in every harness, as in the application: offline without the stand-in service.
    UploadQueue& queue() { return *m_queue; }
    AppState& state() { return *m_state; }
    AppModel& model() { return m_state->model(); }
    ScriptedDialogs& dialogs() { return m_dialogs; }
    RecordingShell& shell() { return m_shell; }
    QString dataFolder() const { return m_dir.path() + QStringLiteral("/data"); }
    QString archive() const { return m_dir.path() + QStringLiteral("/archive"); }
    QString autostart() const { return m_dir.path() + QStringLiteral("/autostart"); }
    const QStringList& log() const { return m_log; }
    int logged(const QString& prefix) const;

private:
    Options m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<MindvaultDevServer> m_server;
    std::unique_ptr<VirtualPen> m_pen;
    QStringList m_log;
    std::unique_ptr<SyncEngine> m_engine;
    std::unique_ptr<UploadQueue> m_queue;
    std::unique_ptr<PenDeletions> m_deletions;
    std::unique_ptr<ManifestEdits> m_edits;
    std::unique_ptr<DeviceBinder> m_binder;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    std::unique_ptr<AppState> m_state;
};
