// One 64 MiB recording pushed to the stand-in service on loopback: throughput and the
// process's peak memory (client and in-process service together).
#include "MindvaultDevServer.h"
#include "cloud/Mindvault.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 recordingBytes = 64LL * 1024 * 1024;

// The high-water mark of resident memory since exec, from /proc (Linux).
double peakRssMiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// CPU time of every thread of the process (client, network thread and service).
double cpuSeconds()
{
    static double last = 0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double now = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const double spent = now - last;
    last = now;
    return spent;
}

struct Setup {
    QTemporaryDir dir;
    QString audioPath = dir.path() + u"/recording.ogg"_s;
    MindvaultDevServer server;
    QNetworkAccessManager nam;
    std::unique_ptr<Mindvault> vault;
    int uploads = 0;

    Setup() : server(options())
    {
        // Written block by block so the fixture itself never holds the recording.
        QFile f(audioPath);
        f.open(QIODevice::WriteOnly);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qint64 done = 0; done < recordingBytes; done += block.size()) {
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((done + i) * 131 >> 3);
            f.write(block);
        }
        f.close();
        server.start();
        const auto config =
            MindvaultConfig::decode(QByteArray::fromStdString(server.clientConfigJson()));
        vault = std::make_unique<Mindvault>(config, TokenStore(dir.path() + u"/Mindvault"_s), &nam);
        QCoro::waitFor(vault->signIn(u"bench@example.com"_s, u"pw"_s));
    }

    static MindvaultDevServer::Options options()
    {
        MindvaultDevServer::Options o;
        o.email = "bench@example.com";
        o.password = "pw";
        o.processing = std::chrono::milliseconds(0);
        return o;
    }

    void upload(AudioSource source)
    {
        const QString id = u"mac-ble-bench-"_s + QString::number(uploads++);
        const UploadResult r =
            QCoro::waitFor(vault->upload(std::move(source), u"bench"_s, 2097.0, id, u"audio/ogg"_s,
                                         QDateTime::currentDateTimeUtc()));
        if (r.chunks != 8)
            qFatal("unexpected chunk count %d", r.chunks);
        server.deleteSession(r.sessionId.toStdString()); // frees the stored objects
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

void BM_UploadFromFile(benchmark::State& state)
{
    Setup& s = setup();
    state.counters["setup_rss_MiB"] = peakRssMiB();
    cpuSeconds();
    for (auto _ : state)
        s.upload(AudioSource::fromFile(s.audioPath));
    state.SetBytesProcessed(state.iterations() * recordingBytes);
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["cpu_s_per_upload"] = cpuSeconds() / double(state.iterations());
}

void BM_UploadFromMemory(benchmark::State& state)
{
    Setup& s = setup();
    QFile f(s.audioPath);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    cpuSeconds();
    for (auto _ : state)
        s.upload(bytes);
    state.SetBytesProcessed(state.iterations() * recordingBytes);
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["cpu_s_per_upload"] = cpuSeconds() / double(state.iterations());
}

// The file variant runs first: peak RSS only grows, so its figure is its own.
BENCHMARK(BM_UploadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_UploadFromMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
