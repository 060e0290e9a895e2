#include "support/BenchAudio.h"
#include "cleanup/ArchiveAudit.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int recordings = 10000;
constexpr qsizetype packetsEach = 100; // 2 s each

// An archive of 10,000 short, healthy recordings with their ledger.
const SyncPaths& bigArchive()
{
    static QTemporaryDir dir;
    static const SyncPaths paths = [] {
        SyncPaths p(dir.path());
        p.ensureDirs();
        const QByteArray raw = benchPackets(packetsEach);
        const QByteArray ogg = OggWrap::wrap(raw, 16000, QStringLiteral("QX27"));
        SyncManifest manifest;
        for (int i = 0; i < recordings; ++i) {
            const QString base = QStringLiteral("20240501-%1").arg(i, 6, 10, QLatin1Char('0'));
            benchWrite(p.rawPackets() + u'/' + base + QStringLiteral(".opus"), raw);
            benchWrite(p.dest() + u'/' + base + QStringLiteral(".ogg"), ogg);
            manifest.imported[base + QStringLiteral(".opus|2|") + QString::number(raw.size())] = {
                base + QStringLiteral(".ogg"), raw.size(), QStringLiteral("2024-05-01 10:00:00")};
        }
        manifest.save(p.manifest());
        return p;
    }();
    return paths;
}

void AuditTenThousandRecordings(benchmark::State& state)
{
    const SyncPaths& paths = bigArchive();
    for (auto _ : state) {
        const auto report = ArchiveAudit::run(paths);
        if (report.healthy() != recordings || !report.unlistedRawPackets.isEmpty()) {
            state.SkipWithError("the archive should be healthy");
        }
        benchmark::DoNotOptimize(report);
    }
    state.counters["recordings"] = recordings;
}
BENCHMARK(AuditTenThousandRecordings)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
