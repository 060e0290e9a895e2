// End-to-end transfer through the client and the unthrottled virtual pen: what the event loop
// alone costs per byte (a real link delivers under 0.2 MB/s).
#include "VirtualPen.h"
#include "device/BLEClient.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void BM_DownloadThroughVirtualPen(benchmark::State& state)
{
    int argc = 0;
    static QCoreApplication app(argc, nullptr);
    const int packets = int(state.range(0)) / 40;
    auto pen = VirtualPen::fromJson(QByteArray(R"({"files": []})"));
    pen->addFile(QStringLiteral("a.opus"), VirtualPen::generatePackets(packets, 1));
    BLEClient client(*pen);
    QCoro::waitFor(client.connect(Discovered{pen->address(), pen->name(), -60, true}));
    const QStringList names{QStringLiteral("a.opus")};
    for (auto _ : state) {
        const DownloadResult r = QCoro::waitFor(client.download(names, uint32_t(packets * 40), 5));
        if (!r.ok()) {
            state.SkipWithError("download failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * packets * 40);
}
BENCHMARK(BM_DownloadThroughVirtualPen)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

} // namespace
