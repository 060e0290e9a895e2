#include "UploadFixture.h"

#include "audio/OggWrap.h"
#include "cloud/Mindvault.h"

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

MindvaultDevServer::Options serverOptions()
{
    MindvaultDevServer::Options o;
    o.email = "pen@example.com";
    o.password = "s3cret-pw";
    o.orgId = "org-test";
    o.processing = 150ms;
    return o;
}

} // namespace

UploadFixture::UploadFixture()
    : store(credentials.path() + u"/Mindvault"_s), server(serverOptions())
{
    if (server.start() <= 0)
        ADD_FAILURE() << "the stand-in service did not start";
    h.paths().ensureDirs();
    TestSupport::writeFile(h.paths().mindvaultConfig(),
                           QByteArray::fromStdString(server.clientConfigJson()));
    queue =
        std::make_unique<UploadQueue>(engine(), fastTiming(), store, &nam, Mindvault::Timing{5, 5});
    queue->install();
    setThreshold(0);
}

UploadFixture::~UploadFixture()
{
    engine().stop();
    queue.reset();
    // Close the keep-alive connections first, or the server waits them out on stop.
    nam.clearConnectionCache();
    server.stop();
}

UploadTiming UploadFixture::fastTiming()
{
    UploadTiming t;
    t.retryPeriod = 0.05;
    t.pollPeriod = 0.05;
    return t;
}

void UploadFixture::signIn()
{
    const MindvaultConfig config =
        MindvaultConfig::decode(QByteArray::fromStdString(server.clientConfigJson()));
    Mindvault client(config, store, &nam, Mindvault::Timing{5, 5});
    TestSupport::run(client.signIn(u"pen@example.com"_s, u"s3cret-pw"_s));
}

void UploadFixture::setThreshold(int seconds)
{
    // Loaded first, so that start() does not read the settings file over this.
    engine().loadCleanupSettingsOnce();
    CleanupSettings settings = engine().cleanup();
    settings.minUploadSeconds = seconds;
    engine().setCleanup(settings);
}

void UploadFixture::addRecording(const QString& base, double seconds)
{
    const qsizetype packets = qsizetype(seconds * 1000 / OggWrap::frameMs);
    TestSupport::writeFile(h.paths().rawPackets() + u'/' + base + u".opus"_s,
                           QByteArray(packets * OggWrap::packetLen, '\x5a'));
    TestSupport::writeFile(
        h.paths().dest() + u'/' + base + u".ogg"_s,
        OggWrap::wrap(QByteArray(OggWrap::packetLen * 5, '\x5a'), 16000, u"QX27"_s));
}

const PendingUpload* UploadFixture::entry(const QString& base)
{
    for (const PendingUpload& u : queue->book().queue()) {
        if (u.base == base)
            return &u;
    }
    return nullptr;
}
