#pragma once

#include "EngineServices.h"
#include "platform/Notify.h"
#include "sync/RadioNotice.h"
#include "sync/SyncEngine.h"
#include "sync/SyncPaths.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <optional>

class CentralPort;

// The engine as both front ends run it: on the pen behind one central, with the desktop
// session's notifications when there is a session, the services attached and the radio's state
// watched.
class AssembledEngine {
public:
    // What both front ends read from their command line.
    struct Args {
        bool fastTiming = false;
        std::optional<QString> archiveRoot;
        std::optional<QString> virtualPen;

        // The options behind these: --archive-root, --virtual-pen, --fast-timing.
        static QList<QCommandLineOption> options();
        static Args read(const QCommandLineParser& parser);
        // The archive root asked for, else the standard one.
        SyncPaths paths() const;
    };

    struct Options {
        bool fastTiming = false;
        bool acceptRebind = false;
        SyncLog::Observer logObserver;
    };

    // backendDescription goes into the engine's log first.
    AssembledEngine(CentralPort& central, const SyncPaths& paths, const QString& backendDescription,
                    const Options& options);

    SyncEngine& engine() { return m_engine; }
    EngineServices& services() { return m_services; }
    RadioNotice& radio() { return m_radio; }
    // Asks the notification service once, when there is a desktop session.
    void requestNotifications();

private:
    std::optional<Notify> m_notify; // before the engine, whose notifications go through it
    SyncEngine m_engine;
    EngineServices m_services;
    RadioNotice m_radio;
};
