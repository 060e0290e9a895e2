#include "EngineServices.h"

#include "cleanup/PenDeletions.h"
#include "cloud/DeviceBinder.h"
#include "cloud/UploadQueue.h"
#include "sync/EngineAudio.h"
#include "sync/ManifestEdits.h"
#include "sync/SyncEngine.h"

#include <QFileInfo>

namespace {

QCoro::Task<Mindvault*> noVault()
{
    co_return nullptr;
}

} // namespace

EngineServices::EngineServices(SyncEngine& engine) : EngineServices(engine, Options()) {}

EngineServices::EngineServices(SyncEngine& engine, Options options)
{
    EngineAudio::install(engine.hooks(), engine.paths.root());
    // Without a service configuration the engine only archives; the queue would only ever
    // report that it cannot connect.
    if (QFileInfo::exists(engine.paths.mindvaultConfig())) {
        m_uploadQueue = std::make_unique<UploadQueue>(engine, options.uploadTiming, options.store,
                                                      options.nam, options.vaultTiming);
        m_uploadQueue->install();
    }
    m_penDeletions = std::make_unique<PenDeletions>(engine, vaultProvider());
    m_penDeletions->install();
    m_manifestEdits = std::make_unique<ManifestEdits>(engine);
    m_manifestEdits->install();
    DeviceBinder::Options binderOptions;
    binderOptions.acceptRebind = options.acceptRebind;
    m_deviceBinder =
        std::make_unique<DeviceBinder>(engine, vaultProvider(), options.store, binderOptions);
    m_deviceBinder->install();
}

EngineServices::~EngineServices() = default;

VaultProvider EngineServices::vaultProvider() const
{
    if (m_uploadQueue)
        return m_uploadQueue->provider();
    return [] {
        return noVault();
    };
}
