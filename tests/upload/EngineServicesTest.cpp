// What the application attaches to its engine, as assembled for the desktop and headless modes.

#include "EngineServices.h"

#include "UploadFixture.h"

#include <QFile>

using namespace Qt::Literals::StringLiterals;

TEST_F(UploadFixture, WithoutAConfigurationRecordingsStayLocalUntilOneAppears)
{
    // The application assembles its own queue; the fixture's steps aside.
    queue.reset();
    QFile::remove(h.paths().mindvaultConfig());
    EngineServices::Options options;
    options.store = store;
    options.nam = &nam;
    options.uploadTiming = fastTiming();
    options.vaultTiming = Mindvault::Timing{5, 5};
    EngineServices services(engine(), options);
    ASSERT_NE(services.uploadQueue(), nullptr);
    signIn();
    addRecording(u"20251203-090000"_s, 600);

    EXPECT_EQ(TestSupport::run(services.uploadQueue()->flushUploadQueue(false)), 0);
    EXPECT_EQ(engine().lastSummary(), u"Mindvault未接通，本次只落盘"_s);
    EXPECT_EQ(engine().uploadBlocked(),
              u"推送暂停：连不上Mindvault（1 条在等）——多半是登录失效，点右上角账号图标重新登录"_s);

    // The configuration is added while the engine runs: the next attempt uses it.
    TestSupport::writeFile(h.paths().mindvaultConfig(),
                           QByteArray::fromStdString(server.clientConfigJson()));
    EXPECT_EQ(TestSupport::run(services.uploadQueue()->flushUploadQueue(false)), 1);
    EXPECT_FALSE(engine().uploadBlocked());
    EXPECT_TRUE(server.sessionIdFor("mac-ble-20251203-090000"));
}
