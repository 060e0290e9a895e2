#pragma once

#include "cloud/Mindvault.h"
#include "cloud/TokenStore.h"
#include "cloud/UploadTiming.h"
#include "cloud/VaultProvider.h"

#include <memory>

class QNetworkAccessManager;
class SyncEngine;
class UploadQueue;

// What the application attaches to its engine besides the pen: the service side (upload queue
// and status polling) when the archive names a service. Built right after the engine and
// destroyed before it; new pieces that hang off the engine (device binding, pen cleanup) are
// added here, borrowing the client through vaultProvider().
class EngineServices {
public:
    struct Options {
        TokenStore store;                     // where the credential lives
        QNetworkAccessManager* nam = nullptr; // shared, or nullptr: the client owns one
        UploadTiming uploadTiming;
        Mindvault::Timing vaultTiming;
    };

    explicit EngineServices(SyncEngine& engine);
    EngineServices(SyncEngine& engine, Options options);
    ~EngineServices();
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    // nullptr when the archive has no "importer/mindvault.json".
    UploadQueue* uploadQueue() const { return m_uploadQueue.get(); }
    // The connected client for borrowers; always answers nullptr without a service.
    VaultProvider vaultProvider() const;

private:
    std::unique_ptr<UploadQueue> m_uploadQueue;
};
