#pragma once

#include "common/Clock.h"
#include "device/BLEClient.h"
#include "sync/EngineTiming.h"
#include "sync/SyncLog.h"

#include <QString>
#include <functional>

// What a SyncEngine is built with besides its backend, archive and cool-down.
struct EngineOptions {
    using NotifyFn = std::function<void(const QString& body, const QString& title)>;

    EngineTiming timing;
    BLEClient::Timing bleTiming;
    Clock clock = systemClock();
    NotifyFn notify;               // desktop notifications; empty: none
    SyncLog::Observer logObserver; // sees every log line (e.g. echoed on stdout)
};
