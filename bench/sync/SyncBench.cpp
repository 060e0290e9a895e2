// The ledger round trip the engine does per recording, and the list rebuild after every change,
// both at 10,000 recordings.

#include "sync/SyncLog.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPlanner.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int recordings = 10000;

QString baseOf(int i)
{
    // 20250101-000000, one recording every ten minutes.
    return QDateTime(QDate(2025, 1, 1), QTime(0, 0))
        .addSecs(qint64(i) * 600)
        .toString(u"yyyyMMdd-HHmmss"_s);
}

FileEntry entryOf(int i)
{
    FileEntry e;
    e.name = baseOf(i) + u".opus"_s;
    e.time = 300 + uint32_t(i % 3000);
    e.size = e.time * 50 * 40;
    return e;
}

SyncManifest bigLedger()
{
    SyncManifest m;
    for (int i = 0; i < recordings; ++i) {
        const FileEntry e = entryOf(i);
        m.imported[SyncPlanner::manifestKey(e)] = {baseOf(i) + u".ogg"_s, e.size,
                                                   u"2025-06-01 21:00:00"_s};
        if (i % 2 == 0) {
            m.uploaded[baseOf(i)] = u"00000000-0000-4000-8000-%1"_s.arg(i, 12, 10, QChar(u'0'));
        }
    }
    return m;
}

void BM_LedgerLoadChangeSave(benchmark::State& state)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/manifest.json"_s;
    SyncLog log(tmp.path() + u"/log.txt"_s);
    bigLedger().save(path);
    int n = 0;
    for (auto _ : state) {
        const bool ok = SyncManifest::modify(
            path, log, [&](SyncManifest& m) { m.downloadFailures[u"x.opus|1|40"_s] = ++n; });
        if (!ok) {
            state.SkipWithError("save failed");
        }
    }
}

void BM_BuildItems(benchmark::State& state)
{
    const SyncManifest m = bigLedger();
    SyncPlanner::Entries entries;
    SyncPlanner::ItemContext ctx;
    for (int i = 0; i < recordings; ++i) {
        const FileEntry e = entryOf(i);
        if (i >= recordings - 500) {
            entries.append(e); // the newest still on the pen
        }
        ctx.localOgg.insert(baseOf(i), e.size + e.size / 20);
        ctx.rawOpus.insert(baseOf(i), e.size);
        if (i % 2 == 0) {
            ctx.vault.insert(baseOf(i), {u"ready"_s, u"t%1"_s.arg(i), std::nullopt});
        }
    }
    for (auto _ : state) {
        auto items = SyncPlanner::buildItems(entries, m, ctx);
        benchmark::DoNotOptimize(items.data());
    }
}

} // namespace

BENCHMARK(BM_LedgerLoadChangeSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildItems)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
