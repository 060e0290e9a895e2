#include "SoakRun.h"

#include "EngineServices.h"
#include "SoakCheck.h"
#include "StandInProcess.h"
#include "VirtualPen.h"
#include "audio/OggWrap.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/TokenStore.h"
#include "cloud/UploadQueue.h"
#include "sync/CleanupSettings.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QTimer>
#include <array>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace {

const std::string email = "soak@kestrel.test";
const std::string password = "soak-pw-7Q2";

// Steps of the service that answer 5xx now and then; the sign-in page's own steps are spared
// so the user's sign-in after a revocation goes through.
constexpr std::array faultSteps{"create",   "ticket", "put",      "complete", "stop",
                                "finalize", "status", "register", "refresh"};
constexpr std::array faultStatuses{500, 502, 503};

// Device time-outs and every cool-down cut to fractions of a second: the pen answers at once,
// so a round is over in milliseconds and the next one starts as soon as the pen is seen.
EngineOptions engineOptions()
{
    EngineOptions o;
    EngineTiming& t = o.timing;
    t.backoffSteps = {0.02, 0.02, 0.02, 0.02};
    t.resumeCooldown = 0.02;
    t.sightingInterval = 0.05;
    t.returnGap = 2;
    t.statusTimeout = t.currentNameTimeout = t.batteryTimeout = t.infoTimeout = 0.3;
    t.listIdleFallback = 0.15;
    t.listHardTimeout = 1.5;
    t.downloadIdleTimeout = 0.3;
    t.discoverSeconds = 0.3;
    BLEClient::Timing& b = o.bleTiming;
    b.scanPowerOn = b.connectStep = b.discoverStep = 0.5;
    b.settle = 0.05;
    b.listPoll = 0.02;
    b.downloadPoll = 0.05;
    b.verifyListIdle = 0.15;
    b.verifyListHard = 1.5;
    return o;
}

UploadTiming uploadTiming()
{
    UploadTiming t;
    t.firstRetry = 0.1;
    t.retryCap = 0.5;
    t.retryPeriod = 0.2;
    t.pollPeriod = 0.2;
    return t;
}

// The station: the pen, the engine with its services, and what the soak throws at them.
class Station {
public:
    Station(const SoakRun::Options& options, QList<SoakRecording>& recordings,
            QList<SoakRun::Sample>& samples, SoakRun::Tally& tally);
    ~Station();

    void run();
    QStringList check();

private:
    void afterRound();
    void sample(int round);
    void inject();
    // Returns its size in bytes.
    qint64 addRecording();
    void duringRound();
    void settle();
    bool everythingPushed() const;
    void finish();
    QCoro::Task<> signInAgain();

    const SoakRun::Options m_options;
    QList<SoakRecording>& m_recordings;
    QList<SoakRun::Sample>& m_samples;
    SoakRun::Tally& m_tally;
    std::mt19937 m_random;
    SyncPaths m_paths;
    std::unique_ptr<StandInProcess> m_standIn;
    TokenStore m_store;
    QNetworkAccessManager m_nam;
    VirtualPen m_pen;
    std::unique_ptr<SyncEngine> m_engine;
    std::unique_ptr<EngineServices> m_services;
    QEventLoop m_loop;
    QTimer m_settleTimer;
    QElapsedTimer m_settleClock;
    QDateTime m_nextStart;
    int m_rounds = 0;
    bool m_settling = false;
    bool m_revoked = false;
    bool m_signingIn = false;
    bool m_dropMidRound = false;
    bool m_addMidRound = false;
    int m_signInRound = 0;
};

Station::Station(const SoakRun::Options& options, QList<SoakRecording>& recordings,
                 QList<SoakRun::Sample>& samples, SoakRun::Tally& tally)
    : m_options(options), m_recordings(recordings), m_samples(samples), m_tally(tally),
      m_random(options.seed), m_paths(options.workDir + u"/archive"_s),
      m_store(options.workDir + u"/data/Mindvault"_s),
      m_pen(nlohmann::json{{"name", "QX27-50AK"},
                           {"files", nlohmann::json::array()},
                           {"advertiseIntervalMs", 10}},
            QString()),
      // Recordings are dated a month back, seven minutes apart: old enough for the cleanup,
      // and a run never dates one in the future.
      m_nextStart(QDateTime(QDate::currentDate().addDays(-30), QTime(8, 0)))
{
    m_paths.ensureDirs();
    QDir().mkpath(QFileInfo(m_paths.mindvaultConfig()).path());
    // Cleanup on with no cooling time: the pen is emptied as its recordings are transcribed,
    // as a station set up to keep the pen free would.
    CleanupSettings{true, 0, options.minUploadSeconds}.save(m_paths.cleanupSettings());

    m_standIn = std::make_unique<StandInProcess>(StandInProcess::Options{
        options.standInProgram, email, password, 0.2, m_paths.mindvaultConfig()});
    Mindvault client(MindvaultConfig::load(m_paths.mindvaultConfig()), m_store, &m_nam);
    QCoro::waitFor(client.signIn(QString::fromStdString(email), QString::fromStdString(password)));

    for (int i = 0; i < 3; ++i)
        addRecording();

    m_engine = std::make_unique<SyncEngine>(m_pen, m_paths, 0.02, u"QX27"_s, engineOptions());
    EngineServices::Options services;
    services.store = m_store;
    services.nam = &m_nam;
    services.uploadTiming = uploadTiming();
    services.vaultTiming = Mindvault::Timing{5, 5};
    m_services = std::make_unique<EngineServices>(*m_engine, services);
    QObject::connect(m_engine.get(), &SyncEngine::roundEnded, m_engine.get(),
                     [this] { afterRound(); });
    QObject::connect(m_engine.get(), &SyncEngine::phaseChanged, m_engine.get(),
                     [this] { duringRound(); });
    m_settleTimer.setInterval(250);
    QObject::connect(&m_settleTimer, &QTimer::timeout, &m_loop, [this] {
        if (everythingPushed() || m_settleClock.elapsed() > 120000)
            finish();
    });
}

Station::~Station()
{
    m_services.reset();
    m_engine.reset();
    m_nam.clearConnectionCache();
}

void Station::run()
{
    m_engine->start();
    m_loop.exec();
}

void Station::afterRound()
{
    ++m_rounds;
    // The pen keeps every request for inspection; a week of them is the double's memory, not
    // the importer's.
    m_pen.clearRequests();
    if (m_engine->phase().is(SyncPhase::Kind::Failed))
        ++m_tally.failedRounds;
    if (m_settling) {
        ++m_tally.settleRounds;
        if (m_revoked && !m_signingIn)
            signInAgain();
        return;
    }
    if (m_rounds == 1 || m_rounds % 50 == 0 || m_rounds == m_options.rounds)
        sample(m_rounds);
    if (m_rounds >= m_options.rounds)
        settle();
    else
        inject();
}

void Station::sample(int round)
{
    SoakRun::Sample s;
    s.round = round;
    s.importer = ProcessFigures::of().value_or(ProcessFigures{});
    s.standIn = ProcessFigures::of(m_standIn->pid());
    for (const VirtualPen::File& f : m_pen.files())
        s.penBytes += f.content.size();
    s.recordings = int(m_recordings.size());
    m_samples.append(s);
}

void Station::inject()
{
    std::uniform_real_distribution<double> chance(0, 1);
    qint64 added = 0;
    if (m_rounds < m_options.newRecordingsUntil && chance(m_random) < 0.35) {
        added += addRecording();
        if (chance(m_random) < 0.25)
            added += addRecording();
    }
    if (added > 0 && chance(m_random) < 0.4) {
        // The next connection drops somewhere in the new recordings' transfer; a partial is
        // left to resume.
        QList<qint64> drops(m_pen.connectionCount(), -1);
        drops.append(std::uniform_int_distribution<qint64>(0, added - 1)(m_random));
        m_pen.faults().dropAfterBytes = drops;
        ++m_tally.linkDrops;
    }
    // Some events land inside the next round instead: a drop while it lists, downloads or
    // deletes, a recording made while the pen is connected.
    m_dropMidRound = chance(m_random) < 0.1;
    m_addMidRound = m_rounds < m_options.newRecordingsUntil && chance(m_random) < 0.05;
    if (chance(m_random) < 0.15) {
        const char* step =
            faultSteps[std::uniform_int_distribution<size_t>(0, faultSteps.size() - 1)(m_random)];
        const int status = faultStatuses[std::uniform_int_distribution<size_t>(
            0, faultStatuses.size() - 1)(m_random)];
        m_standIn->failStep(step, status, std::uniform_int_distribution(1, 3)(m_random),
                            std::uniform_int_distribution(0, 3)(m_random));
        ++m_tally.serviceFaults;
    }
    if (!m_revoked && chance(m_random) < 0.02) {
        // A sign-out on the web; the user signs in again a few rounds later.
        m_standIn->revokeSignIn();
        m_revoked = true;
        m_signInRound = m_rounds + std::uniform_int_distribution(2, 8)(m_random);
        ++m_tally.revocations;
    }
    if (m_revoked && !m_signingIn && m_rounds >= m_signInRound)
        signInAgain();
}

void Station::duringRound()
{
    const SyncPhase::Kind kind = m_engine->phase().kind();
    if (m_addMidRound && kind == SyncPhase::Kind::Downloading) {
        m_addMidRound = false;
        addRecording();
    }
    if (m_dropMidRound && m_pen.isLinked() &&
        (kind == SyncPhase::Kind::Listing || kind == SyncPhase::Kind::Downloading ||
         kind == SyncPhase::Kind::Cleaning)) {
        m_dropMidRound = false;
        ++m_tally.linkDrops;
        QTimer::singleShot(std::uniform_int_distribution(0, 30)(m_random), &m_pen, [this] {
            if (m_pen.isLinked())
                m_pen.dropLink();
        });
    }
}

qint64 Station::addRecording()
{
    SoakRecording r;
    r.name = m_nextStart.toString(u"yyyyMMdd-HHmmss"_s) + u".opus"_s;
    r.packets = std::uniform_int_distribution(100, 600)(m_random); // 2 to 12 seconds
    r.seed = uint32_t(m_recordings.size() + 1);
    m_pen.addFile(r.name, r.content());
    m_recordings.append(r);
    m_nextStart = m_nextStart.addSecs(7 * 60);
    return qint64(r.packets) * OggWrap::packetLen;
}

QCoro::Task<> Station::signInAgain()
{
    m_signingIn = true;
    try {
        Mindvault client(MindvaultConfig::load(m_paths.mindvaultConfig()), m_store, &m_nam);
        co_await client.signIn(QString::fromStdString(email), QString::fromStdString(password));
        m_revoked = false;
        ++m_tally.signIns;
    } catch (const std::exception&) {
        // The next round tries again.
    }
    m_signingIn = false;
}

void Station::settle()
{
    // The faults stop; the station gets the time it needs to push what it holds.
    m_settling = true;
    m_pen.faults().dropAfterBytes.clear();
    m_dropMidRound = m_addMidRound = false;
    for (const char* step : faultSteps)
        m_standIn->failStep(step, 500, 0, 0);
    if (m_revoked && !m_signingIn)
        signInAgain();
    m_settleClock.start();
    m_settleTimer.start();
}

bool Station::everythingPushed() const
{
    if (m_revoked)
        return false;
    const SyncManifest ledger = SyncManifest::load(m_paths.manifest());
    for (const SoakRecording& r : m_recordings) {
        const auto imported = ledger.imported.find(r.ledgerKey());
        if (imported == ledger.imported.end())
            return false;
        const QString base = imported->second.file.section(u'.', 0, 0);
        if (int(r.listedSeconds()) >= m_options.minUploadSeconds && !ledger.uploaded.count(base))
            return false;
    }
    return true;
}

void Station::finish()
{
    m_settleTimer.stop();
    m_tally.settled = everythingPushed();
    m_engine->stop();
    // Let a round in flight and the analyses of what it archived end before the teardown.
    QTimer* wait = new QTimer(&m_settleTimer);
    wait->setInterval(20);
    QObject::connect(wait, &QTimer::timeout, &m_loop, [this] {
        if (!m_engine->isSyncing() && !m_engine->analysing())
            m_loop.quit();
    });
    wait->start();
}

QStringList Station::check()
{
    SoakCheck::Inputs in{m_recordings,          m_paths,
                         m_pen.fileNames(),     m_pen.deletedNames(),
                         m_standIn->sessions(), m_options.minUploadSeconds};
    return SoakCheck::problems(in);
}

} // namespace

SoakRun::SoakRun(Options options) : m_options(std::move(options)) {}

void SoakRun::run()
{
    Station station(m_options, m_recordings, m_samples, m_tally);
    station.run();
    m_problems = station.check();
}
