#pragma once

#include "sync/FileError.h"
#include "sync/SyncEngine.h"

// What one round keeps while it runs; it ends up in the summary and the round's outcome.
struct SyncEngine::Round {
    QList<FileEntry> entries;
    bool gotDone = false; // the list ended with the pen's end frame
    int pendingCount = 0;
    int importedCount = 0;         // downloaded and archived in this round
    int failedCount = 0;           // downloads that failed for good this round (not broken off)
    int pushedCount = 0;           // pushed to the service by the closing flush
    QString note;                  // deletions and cleanup, for the summary
    bool progressed = false;       // a dropped download still left more bytes than it started with
    bool ledgerUnreadable = false; // nothing this round did could be written to the ledger
    std::optional<FileError> blocked; // the archive's folder refused a write: the round stopped
};
