#pragma once

#include "audio/VoiceActivity.h"
#include "device/Discovered.h"
#include "device/FileEntry.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class BLEClient;

// Where the engine hands over to the service client, the pen cleanup and the audio tools. Each
// hook is optional: an empty one does exactly what the engine must do while that piece is not
// configured (not signed in, no service, empty deletion queue, no screening), and never fakes a
// result.
struct EngineHooks {
    // What one automatic cleanup did on the pen.
    struct CleanupOutcome {
        int deleted = 0;
        QString note;
    };

    // Checks the pen against the signed-in account before a round reads it; false stops the
    // round (the hook has already set the engine's pendingBindMismatch and logged why).
    // Empty: not signed in, the round goes on without the check.
    std::function<QCoro::Task<bool>(const Discovered& target)> ensureDeviceBinding;

    // Starts the status-polling and upload-retry loops (engine start) and cancels them (stop).
    std::function<void()> startBackgroundLoops;
    std::function<void()> stopBackgroundLoops;
    // Pushes due recordings; returns how many were pushed. Empty: no service, nothing pushed.
    std::function<QCoro::Task<int>(bool force)> flushUploadQueue;

    // Carries out the user's queued pen deletions; returns how many files were deleted.
    // Empty: only the queue's emptiness is checked (nothing can be queued without the hook).
    std::function<QCoro::Task<int>(BLEClient& client, const QList<FileEntry>& entries,
                                   std::optional<uint8_t> recordStatus, bool listComplete)>
        runPendingDeletes;
    // Automatic cleanup after a round (only called when cleanup is switched on).
    // Empty: there is no service client to confirm anything with, so nothing is deleted.
    std::function<QCoro::Task<CleanupOutcome>(BLEClient& client, const QList<FileEntry>& entries,
                                              std::optional<uint8_t> recordStatus,
                                              std::optional<QString> deviceCurrent)>
        performCleanup;
    // The local archive health check run after a round that imported something.
    std::function<void()> runArchiveAudit;

    // Screens an archived Ogg file for speech; the report is kept per recording and never blocks
    // anything. Runs on a worker thread: touch only the file. Empty: no screening.
    using ScreenSpeechFn =
        std::function<std::optional<VoiceActivity::Report>(const QString& oggPath)>;
    ScreenSpeechFn screenSpeech;
    // Computes and caches an archived recording's waveform. Runs on a worker thread.
    using CacheWaveformFn = std::function<void(const QString& base, const QString& audioPath)>;
    CacheWaveformFn cacheWaveform;
    // Converts a stranded ".caf" recording to ".m4a" next to it and returns its duration in
    // seconds; throws KestrelError. Runs on a worker thread.
    std::function<double(const QString& cafPath)> convertToM4a;
};
