#include "EngineServices.h"

#include "cleanup/PenDeletions.h"
#include "cloud/DeviceBinder.h"
#include "cloud/UploadQueue.h"
#include "sync/EngineAudio.h"
#include "sync/ManifestEdits.h"
#include "sync/SyncEngine.h"

EngineServices::EngineServices(SyncEngine& engine) : EngineServices(engine, Options()) {}

EngineServices::EngineServices(SyncEngine& engine, Options options)
{
    EngineAudio::install(engine.hooks(), engine.paths().root());
    // Always there, configured or not: without "importer/mindvault.json" the queue tells the
    // user that recordings stay local and why, and it reads the file again at every attempt,
    // so a configuration added later is picked up without a restart.
    m_uploadQueue = std::make_unique<UploadQueue>(engine, options.uploadTiming, options.store,
                                                  options.nam, options.vaultTiming);
    m_uploadQueue->install();
    m_penDeletions = std::make_unique<PenDeletions>(engine, vaultProvider());
    m_penDeletions->install();
    m_manifestEdits = std::make_unique<ManifestEdits>(engine);
    m_manifestEdits->install();
    DeviceBinder::Options binderOptions;
    binderOptions.acceptRebind = options.acceptRebind;
    m_deviceBinder =
        std::make_unique<DeviceBinder>(engine, vaultProvider(), options.store, binderOptions);
    m_deviceBinder->install();
    // The store follows the list: whatever becomes transcribed (or was before this store
    // existed) is fetched in the background.
    m_transcripts = std::make_unique<TranscriptKeeper>(
        TranscriptStore::pathIn(engine.paths().root()),
        TranscriptKeeper::fetchThrough(vaultProvider()),
        [&engine](const QString& line) { engine.log(line); }, options.transcriptTiming);
    QObject::connect(&engine, &SyncEngine::itemsChanged, m_transcripts.get(), [this, &engine] {
        m_transcripts->noteRecordings(TranscriptKeeper::fromItems(engine.items()));
    });
    // What the list holds already (the store opens now, and fills what it lacks).
    m_transcripts->noteRecordings(TranscriptKeeper::fromItems(engine.items()));
}

EngineServices::~EngineServices()
{
    // Before the queue whose client it borrows.
    m_transcripts.reset();
}

VaultProvider EngineServices::vaultProvider() const
{
    return m_uploadQueue->provider();
}
