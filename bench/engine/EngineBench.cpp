// The engine's own cost: one full round against an unthrottled virtual pen (the engine must
// never be what limits a transfer), and the monitor loop listening while other devices
// advertise all around it.

#include "VirtualPen.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto secs = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

std::unique_ptr<VirtualPen> makePen()
{
    return std::make_unique<VirtualPen>(
        nlohmann::json{{"name", "QX27-BENCH"}, {"files", nlohmann::json::array()}}, QString());
}

// 50 recordings of 10 minutes each (30,000 packets, 1.2 MB) in one round.
void BM_FullRound(benchmark::State& state)
{
    constexpr int recordings = 50;
    constexpr int packets = 10 * 60 * 50;
    auto pen = makePen();
    qint64 total = 0;
    for (int i = 0; i < recordings; ++i) {
        const QByteArray content = VirtualPen::generatePackets(packets, uint32_t(i + 1));
        pen->addFile(u"20260301-%1.opus"_s.arg(100000 + i), content);
        total += content.size();
    }
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        SyncEngine engine(*pen, SyncPaths(dir.path()), 60, u"QX27"_s);
        const Discovered target{pen->address(), pen->name(), -60, true};
        state.ResumeTiming();

        const double before = cpuSeconds();
        QCoro::waitFor(engine.runSync(target));
        cpu += cpuSeconds() - before;

        // The pen confirms the round's disconnect on the event loop; let that land before the
        // next iteration connects again.
        state.PauseTiming();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        state.ResumeTiming();
        if (engine.lastSummary() != u"导入 %1 条"_s.arg(recordings)) {
            state.SkipWithError(qPrintable(engine.lastSummary()));
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * total);
    state.counters["MB_archived_per_cpu_s"] =
        double(total) * double(state.iterations()) / 1e6 / cpu;
}
BENCHMARK(BM_FullRound)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The process's CPU use, as a share of one core, while the event loop runs for 10 s.
double idleShare()
{
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    // A real event loop: processEvents with a time limit never sleeps and would measure its own
    // spinning.
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return (cpuSeconds() - before) / (double(wall.nsecsElapsed()) / 1e9);
}

// The pen stays silent while another device advertises 200 times a second; the loop checks
// and drops every sighting.
void BM_IdleMonitor(benchmark::State& state)
{
    auto pen = makePen();
    pen->setAdvertising(false);
    pen->setOtherDevices(1, 5);
    QTemporaryDir dir;
    SyncEngine engine(*pen, SyncPaths(dir.path()), 60, u"QX27"_s);
    engine.start();
    double share = 0;
    for (auto _ : state)
        share = idleShare();
    engine.stop();
    state.counters["cpu_share_of_one_core_pct"] = share * 100;
}
BENCHMARK(BM_IdleMonitor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The same simulated radio with a listener that only counts: what the 200 wake-ups a second
// cost before the engine does anything. The engine's own share is the difference.
void BM_IdleRadioAlone(benchmark::State& state)
{
    auto pen = makePen();
    pen->setAdvertising(false);
    pen->setOtherDevices(1, 5);
    int seen = 0;
    QObject::connect(pen.get(), &CentralPort::advertised, pen.get(), [&seen] { ++seen; });
    pen->startScan();
    double share = 0;
    for (auto _ : state)
        share = idleShare();
    pen->stopScan();
    state.counters["cpu_share_of_one_core_pct"] = share * 100;
    state.counters["advertisements_per_s"] = seen / 10.0;
}
BENCHMARK(BM_IdleRadioAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
