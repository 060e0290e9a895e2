// The kestrel executable pushes what it imports when the archive names a service.

#include "MindvaultDevServer.h"
#include "cloud/Mindvault.h"
#include "support/TestSupport.h"
#include "sync/CleanupSettings.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"

#include <QNetworkAccessManager>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

TEST(HeadlessUpload, ARoundPushesItsImportsToTheConfiguredService)
{
    MindvaultDevServer::Options options;
    options.email = "pen@example.com";
    options.password = "s3cret-pw";
    options.processing = 0ms;
    MindvaultDevServer server(options);
    ASSERT_GT(server.start(), 0);

    QTemporaryDir dir;
    const SyncPaths paths(dir.path() + u"/archive"_s);
    TestSupport::writeFile(paths.mindvaultConfig(),
                           QByteArray::fromStdString(server.clientConfigJson()));
    CleanupSettings settings;
    settings.minUploadSeconds = 0; // the fixture's recordings are seconds long
    paths.ensureDirs();
    TestSupport::writeFile(paths.cleanupSettings(), settings.encode());
    // Signed in beforehand, into the data folder the executable will look in.
    const QString dataHome = dir.path() + u"/data"_s;
    {
        QNetworkAccessManager nam;
        Mindvault client(MindvaultConfig::load(paths.mindvaultConfig()),
                         TokenStore(dataHome + u"/Mindvault"_s), &nam);
        TestSupport::run(client.signIn(u"pen@example.com"_s, u"s3cret-pw"_s));
        nam.clearConnectionCache();
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, dataHome);
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    const TestSupport::ProgramRun r = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN),
        {u"--headless"_s, u"--once"_s, u"--archive-root"_s, paths.root(), u"--virtual-pen"_s,
         QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s},
        {}, env, std::chrono::seconds(60));

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"同步结束：导入 3 条，入Mindvault 3 条"_s)) << r.out.toStdString();
    const SyncManifest manifest = SyncManifest::load(paths.manifest());
    EXPECT_EQ(manifest.uploaded.size(), 3u);
    EXPECT_TRUE(server.sessionIdFor("mac-ble-20251203-090000"));
    server.stop();
}
