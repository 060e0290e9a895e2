#pragma once

#include "cloud/Mindvault.h"
#include "cloud/TokenStore.h"
#include "cloud/UploadTiming.h"
#include "cloud/VaultProvider.h"
#include "transcripts/TranscriptKeeper.h"

#include <memory>

class DeviceBinder;
class ManifestEdits;
class PenDeletions;
class QNetworkAccessManager;
class SyncEngine;
class TranscriptKeeper;
class UploadQueue;

// What the application attaches to its engine besides the pen: the audio tools (speech
// screening, waveforms, stranded-recording conversion), the service side (upload queue and
// status polling; offline until the archive names a service), the pen deletions and the ledger
// edits (with the archive audit after a round that imported something), and the pen's binding to
// the signed-in account. Built right after the engine and destroyed before it; new pieces that hang
// off the engine are added here, borrowing the client through vaultProvider().
class EngineServices {
public:
    struct Options {
        TokenStore store;                     // where the credential lives
        QNetworkAccessManager* nam = nullptr; // shared, or nullptr: the client owns one
        UploadTiming uploadTiming;
        Mindvault::Timing vaultTiming;
        bool acceptRebind = false; // see DeviceBinder::Options
        TranscriptKeeper::Timing transcriptTiming;
    };

    explicit EngineServices(SyncEngine& engine);
    EngineServices(SyncEngine& engine, Options options);
    ~EngineServices();
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    // Never nullptr: without "importer/mindvault.json" the queue stays offline and says so.
    UploadQueue* uploadQueue() const { return m_uploadQueue.get(); }
    // The connected client for borrowers; nullptr without a service or a sign-in.
    VaultProvider vaultProvider() const;
    // The user's pen deletions and ledger edits; always present.
    PenDeletions& penDeletions() const { return *m_penDeletions; }
    ManifestEdits& manifestEdits() const { return *m_manifestEdits; }
    // Always present: a pen bound to another organisation is stopped even without a service.
    DeviceBinder& deviceBinder() const { return *m_deviceBinder; }
    // Keeps the archive's transcript store filled from the recording list; always present.
    TranscriptKeeper& transcripts() const { return *m_transcripts; }

private:
    // Declared first, destroyed last: the pieces below borrow its client.
    std::unique_ptr<UploadQueue> m_uploadQueue;
    std::unique_ptr<PenDeletions> m_penDeletions;
    std::unique_ptr<ManifestEdits> m_manifestEdits;
    std::unique_ptr<DeviceBinder> m_deviceBinder;
    std::unique_ptr<TranscriptKeeper> m_transcripts;
};
