// Throughput of the checksum and of frame reassembly. A BLE link delivers under 0.2 MB/s; these
// must stay far above that (targets: CRC ≥ 1 GB/s, reassembly ≥ 500 MB/s of 200-byte frames).
#include "device/FrameParser.h"
#include "device/Proto.h"

#include <benchmark/benchmark.h>

namespace {

QByteArray pattern(qsizetype n)
{
    QByteArray b(n, '\0');
    for (qsizetype i = 0; i < n; ++i) {
        b[i] = char((i * 131 + 7) & 0xFF);
    }
    return b;
}

void BM_Crc16(benchmark::State& state)
{
    const QByteArray data = pattern(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Proto::crc16(data));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * data.size());
}
BENCHMARK(BM_Crc16)->Arg(202)->Arg(4096)->Arg(1 << 20);

// Frames of 200 bytes on the wire, fed as notifications of `range(0)` bytes (the link's write
// length), the way the client receives them.
void BM_FrameParserFeed(benchmark::State& state)
{
    const qsizetype fragment = state.range(0);
    QByteArray stream;
    const QByteArray body = pattern(200 - Proto::headerLen - 2);
    for (int i = 0; i < 512; ++i) {
        stream += Proto::buildFrame(Proto::T::file, Proto::FileCmd::importData, body, uint8_t(i));
    }
    FrameParser parser(QStringLiteral("AE22"));
    int64_t frames = 0;
    for (auto _ : state) {
        for (qsizetype at = 0; at < stream.size(); at += fragment) {
            const auto out = parser.feed(
                QByteArrayView(stream).sliced(at, std::min(fragment, stream.size() - at)));
            frames += out.size();
            benchmark::DoNotOptimize(out.constData());
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameParserFeed)->Arg(182)->Arg(200)->Arg(4096)->Arg(102400);

} // namespace

BENCHMARK_MAIN();
