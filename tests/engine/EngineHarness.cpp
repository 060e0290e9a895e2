#include "EngineHarness.h"

#include "device/Proto.h"
#include "support/TestSupport.h"

#include <QDir>
#include <opusfile.h>

using namespace Qt::Literals::StringLiterals;

EngineHarness::EngineHarness(const QString& archiveRoot)
{
    m_pen = std::make_unique<VirtualPen>(
        nlohmann::json{{"name", "QX27-7A01"}, {"files", nlohmann::json::array()}}, QString());

    SyncEngine::Options options;
    EngineTiming& t = options.timing;
    t.statusTimeout = t.currentNameTimeout = t.batteryTimeout = t.infoTimeout = 0.3;
    t.listIdleFallback = 0.15;
    t.listHardTimeout = 1.5;
    t.downloadIdleTimeout = 0.3;
    t.discoverSeconds = 0.3;
    BLEClient::Timing& b = options.bleTiming;
    b.scanPowerOn = b.connectStep = b.discoverStep = 0.5;
    b.settle = 0.2;
    b.scanRetry = 0.1;
    b.listPoll = 0.02;
    b.downloadPoll = 0.05;
    b.verifyListIdle = 0.15;
    b.verifyListHard = 1.5;
    options.clock = [this] {
        return m_frozen ? *m_frozen : QDateTime::currentDateTime();
    };
    options.notify = [this](const QString& body, const QString& title) {
        m_notes.append({body, title});
    };
    options.logObserver = [this](const QString& line) {
        const qsizetype cut = line.indexOf(u"] "_s);
        m_log.append(cut >= 0 ? line.mid(cut + 2) : line);
    };
    m_engine = std::make_unique<SyncEngine>(
        *m_pen, SyncPaths(archiveRoot.isEmpty() ? m_dir.path() + u"/archive"_s : archiveRoot),
        EngineTiming::defaultCooldown, u"QX27"_s, options);
}

EngineHarness::~EngineHarness()
{
    // Let queued work (disconnect confirmations, screening results) settle before teardown.
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20));
    m_engine.reset();
}

Discovered EngineHarness::sighting() const
{
    return {m_pen->address(), m_pen->name(), -58, true};
}

void EngineHarness::round()
{
    m_engine->holdRoundGuard(true);
    TestSupport::run(m_engine->runSync(sighting()));
    m_engine->holdRoundGuard(false);
}

int EngineHarness::loggedCount(const QString& prefix) const
{
    return int(std::count_if(m_log.cbegin(), m_log.cend(),
                             [&](const QString& l) { return l.startsWith(prefix); }));
}

QByteArray EngineHarness::raw(const QString& base) const
{
    return TestSupport::readFile(paths().rawPackets() + u'/' + base + u".opus"_s);
}

QByteArray EngineHarness::ogg(const QString& base) const
{
    return TestSupport::readFile(paths().dest() + u'/' + base + u".ogg"_s);
}

SyncManifest EngineHarness::manifest() const
{
    return SyncManifest::load(paths().manifest());
}

QStringList EngineHarness::partialFiles() const
{
    return QDir(paths().rawPackets()).entryList({u"*.part"_s, u"*.part.size"_s}, QDir::Files);
}

QList<std::pair<QString, uint32_t>> EngineHarness::importRequests() const
{
    QList<std::pair<QString, uint32_t>> out;
    for (const VirtualPen::Request& r : m_pen->requests()) {
        if (r.type == Proto::T::file && r.cmd == Proto::FileCmd::importReq)
            out.append({r.name, r.offset});
    }
    return out;
}

std::optional<qint64> EngineHarness::decodedSamples(const QByteArray& ogg)
{
    int error = 0;
    OggOpusFile* file = op_open_memory(reinterpret_cast<const unsigned char*>(ogg.constData()),
                                       size_t(ogg.size()), &error);
    if (!file)
        return std::nullopt;
    qint64 total = 0;
    std::vector<opus_int16> pcm(5760);
    while (true) {
        const int n = op_read(file, pcm.data(), int(pcm.size()), nullptr);
        if (n < 0) {
            op_free(file);
            return std::nullopt;
        }
        if (n == 0)
            break;
        total += n;
    }
    op_free(file);
    return total;
}
