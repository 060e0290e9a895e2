// OggWrap::wrap against libogg muxing the same packets into 50-packet pages.

#include "audio/OggWrap.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <ogg/ogg.h>

namespace {

// One hour of pen audio: 180,000 packets of 40 bytes (7.2 MB).
QByteArray hourOfPackets()
{
    QByteArray raw(180000 * 40, '\0');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        raw[i] = static_cast<char>((i * 131) ^ (i >> 7));
    }
    return raw;
}

void appendPage(QByteArray& out, const ogg_page& page)
{
    out.append(reinterpret_cast<const char*>(page.header), page.header_len);
    out.append(reinterpret_cast<const char*>(page.body), page.body_len);
}

QByteArray libogg(const QByteArray& raw, const QByteArray& head, const QByteArray& tags)
{
    ogg_stream_state os;
    ogg_stream_init(&os, static_cast<int>(OggWrap::serialNumber));
    QByteArray out;
    out.reserve(raw.size() + raw.size() / 40 + raw.size() / 2000 * 27 + 256);
    ogg_page page;
    ogg_packet p{};
    const auto flushAll = [&] {
        while (ogg_stream_flush(&os, &page) != 0) {
            appendPage(out, page);
        }
    };
    p.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(head.constData()));
    p.bytes = head.size();
    p.b_o_s = 1;
    ogg_stream_packetin(&os, &p);
    flushAll();
    p.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(tags.constData()));
    p.bytes = tags.size();
    p.b_o_s = 0;
    ogg_stream_packetin(&os, &p);
    flushAll();

    const qsizetype packets = raw.size() / 40;
    for (qsizetype i = 0; i < packets; ++i) {
        p.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(raw.constData())) + i * 40;
        p.bytes = 40;
        p.granulepos = (i + 1) * 960;
        p.e_o_s = i + 1 == packets;
        p.packetno = i + 2;
        ogg_stream_packetin(&os, &p);
        if ((i + 1) % 50 == 0 || i + 1 == packets) {
            flushAll();
        }
    }
    ogg_stream_clear(&os);
    return out;
}

void BM_OggWrap(benchmark::State& state)
{
    const QByteArray raw = hourOfPackets();
    for (auto _ : state) {
        QByteArray ogg = OggWrap::wrap(raw, 16000, QStringLiteral("QX27"));
        benchmark::DoNotOptimize(ogg.data());
    }
    state.SetBytesProcessed(state.iterations() * raw.size());
}

void BM_LibOgg(benchmark::State& state)
{
    const QByteArray raw = hourOfPackets();
    // The same header packets as ours, taken from our own output.
    const QByteArray ours = OggWrap::wrap(raw.first(40), 16000, QStringLiteral("QX27"));
    const QByteArray head = ours.mid(28, 19);
    const QByteArray tags = ours.mid(47 + 28, 20);
    if (libogg(raw, head, tags) != OggWrap::wrap(raw, 16000, QStringLiteral("QX27"))) {
        state.SkipWithError("libogg and OggWrap produce different bytes");
        return;
    }
    for (auto _ : state) {
        QByteArray ogg = libogg(raw, head, tags);
        benchmark::DoNotOptimize(ogg.data());
    }
    state.SetBytesProcessed(state.iterations() * raw.size());
}

} // namespace

BENCHMARK(BM_OggWrap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibOgg)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
