#pragma once

#include "MindvaultDevServer.h"
#include "cloud/Mindvault.h"
#include "support/TestSupport.h"
#include "sync/CleanupSettings.h"
#include "sync/SyncPaths.h"

#include <QNetworkAccessManager>

// An archive that a kestrel process pushes to the stand-in service from, with pen cleanup on
// and no cool-off, for tests that run the real program (programs linking mindvault_dev_lib).
namespace ServiceArchive {

inline void prepare(const SyncPaths& paths, const MindvaultDevServer& server)
{
    paths.ensureDirs();
    TestSupport::writeFile(paths.mindvaultConfig(),
                           QByteArray::fromStdString(server.clientConfigJson()));
    CleanupSettings settings;
    settings.deleteAfterSync = true;
    settings.coolingDays = 0;
    settings.minUploadSeconds = 0;
    TestSupport::writeFile(paths.cleanupSettings(), settings.encode());
}

// Signs in where kestrel, run with XDG_DATA_HOME=dataHome, finds the credentials.
inline void signIn(const SyncPaths& paths, const QString& dataHome, const QString& email,
                   const QString& password)
{
    QNetworkAccessManager nam;
    Mindvault client(MindvaultConfig::load(paths.mindvaultConfig()),
                     TokenStore(dataHome + QStringLiteral("/Mindvault")), &nam);
    TestSupport::run(client.signIn(email, password));
    nam.clearConnectionCache();
}

} // namespace ServiceArchive
