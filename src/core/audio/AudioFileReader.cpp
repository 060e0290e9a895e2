#include "audio/AudioFileReader.h"

#include "audio/Ffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <opus/opus.h>
#include <type_traits>
#include <vector>

namespace {

struct OpusFreer {
    void operator()(OpusDecoder* o) const { opus_decoder_destroy(o); }
};

constexpr int opusClockRate = 48000;  // granule positions and pre-skip count at this rate
constexpr int opusMaxFrames48 = 5760; // the longest Opus packet: 120 ms at 48 kHz
// Far above any recording's rate; a header claiming more is damaged or hostile, and the readers
// size their blocks by the rate.
constexpr int maxSampleRate = 384000;
// No codec we read packs more than a second of audio into one byte of file (the thinnest speech
// codecs need hundreds of bytes a second), so a declared length beyond that is not believed.
constexpr qint64 maxSecondsPerByte = 1;

// The identification header of an Ogg Opus stream (FFmpeg passes it on as extradata).
struct OpusHead {
    int channels = 0;
    int preSkip = 0; // 48 kHz samples to drop at the start
    uint32_t inputRate = 0;
    int16_t gain = 0; // Q7.8 dB
    int mappingFamily = 0;
};

std::optional<OpusHead> parseOpusHead(const uint8_t* p, int size)
{
    if (p == nullptr || size < 19 || std::memcmp(p, "OpusHead", 8) != 0) {
        return std::nullopt;
    }
    OpusHead h;
    h.channels = p[9];
    h.preSkip = p[10] | (p[11] << 8);
    h.inputRate = uint32_t(p[12]) | (uint32_t(p[13]) << 8) | (uint32_t(p[14]) << 16) |
                  (uint32_t(p[15]) << 24);
    h.gain = int16_t(uint16_t(p[16] | (p[17] << 8)));
    h.mappingFamily = p[18];
    return h;
}

// libopus decodes natively at these rates; decoding at the rate a stream was encoded from is
// both cheaper and what every consumer of a 16 kHz recording wants.
int opusDecodeRate(uint32_t inputRate)
{
    for (int r : {8000, 12000, 16000, 24000, 48000}) {
        if (inputRate == uint32_t(r)) {
            return r;
        }
    }
    return opusClockRate;
}

template <typename T>
void takeFirstChannel(const uint8_t* data, int frames, int stride, float scale, float offset,
                      std::vector<float>& out)
{
    const T* s = reinterpret_cast<const T*>(static_cast<const void*>(data));
    for (int i = 0; i < frames; ++i) {
        const T v = s[qsizetype(i) * stride];
        if constexpr (std::is_floating_point_v<T>) {
            // A float file can hold NaN, infinities or numbers beyond a float: silence for
            // those, so no measure or encoder downstream sees them.
            if (!(std::abs(v) <= T(std::numeric_limits<float>::max()))) {
                out.push_back(0.0f);
                continue;
            }
        }
        out.push_back((float(v) - offset) * scale);
    }
}

// Appends channel 0 of a decoded frame as floats; false for a sample format we do not expect.
bool appendFirstChannel(const AVFrame& f, std::vector<float>& out)
{
    const auto fmt = AVSampleFormat(f.format);
    const int stride = av_sample_fmt_is_planar(fmt) ? 1 : std::max(f.ch_layout.nb_channels, 1);
    const uint8_t* d = f.extended_data[0];
    switch (av_get_packed_sample_fmt(fmt)) {
    case AV_SAMPLE_FMT_FLT:
        takeFirstChannel<float>(d, f.nb_samples, stride, 1.0f, 0.0f, out);
        return true;
    case AV_SAMPLE_FMT_DBL:
        takeFirstChannel<double>(d, f.nb_samples, stride, 1.0f, 0.0f, out);
        return true;
    case AV_SAMPLE_FMT_S16:
        takeFirstChannel<int16_t>(d, f.nb_samples, stride, 1.0f / 32768.0f, 0.0f, out);
        return true;
    case AV_SAMPLE_FMT_S32:
        takeFirstChannel<int32_t>(d, f.nb_samples, stride, 1.0f / 2147483648.0f, 0.0f, out);
        return true;
    case AV_SAMPLE_FMT_U8:
        takeFirstChannel<uint8_t>(d, f.nb_samples, stride, 1.0f / 128.0f, 128.0f, out);
        return true;
    default:
        return false;
    }
}

} // namespace

struct AudioFileReader::Impl {
    QByteArray url;
    std::unique_ptr<AVFormatContext, Ffmpeg::InputCloser> format;
    AVStream* stream = nullptr;
    std::unique_ptr<AVPacket, Ffmpeg::PacketFreer> packet{av_packet_alloc()};

    // Exactly one decoder: libopus for plain Opus streams, an FFmpeg decoder for the rest.
    std::unique_ptr<OpusDecoder, OpusFreer> opus;
    std::unique_ptr<AVCodecContext, Ffmpeg::CodecFreer> codec;
    std::unique_ptr<AVFrame, Ffmpeg::FrameFreer> frame;

    int rate = 0;
    int channels = 0;
    qint64 length = 0;
    qint64 position = 0;

    // Opus path: pre-skip still to drop, frames the stream holds (end trimming), and the
    // interleaved output of one packet.
    qint64 skip = 0;
    qint64 produced = 0;
    std::vector<float> packetPcm;

    std::vector<float> pending; // first-channel samples decoded but not yet handed out
    size_t pendingAt = 0;
    bool draining = false; // FFmpeg path: end of input sent to the decoder
    bool ended = false;
    bool failed = false;

    // Throws OpenError. knownLength skips working the length out again when reopening.
    void open(std::optional<qint64> knownLength);
    void openOpus(const OpusHead& head);
    void openCodec();
    qint64 lengthFromContainer() const;
    bool refill();
    bool refillOpus();
    bool refillCodec();
    qint64 take(float* dst, qint64 maxFrames);
};

void AudioFileReader::Impl::open(std::optional<qint64> knownLength)
{
    Ffmpeg::quiet();
    if (!packet) {
        throw OpenError(QStringLiteral("内存不够，建不出读缓冲"));
    }
    AVFormatContext* raw = nullptr;
    if (int r = avformat_open_input(&raw, url.constData(), nullptr, nullptr); r < 0) {
        throw OpenError(QStringLiteral("打不开音频文件：") + Ffmpeg::reason(r), Ffmpeg::text(r));
    }
    format.reset(raw);

    int index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    bool probed = false;
    if (index < 0) {
        // Containers that state their streams only in the data need a look at the packets.
        avformat_find_stream_info(raw, nullptr);
        probed = true;
        index = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    if (index < 0) {
        throw OpenError(QStringLiteral("文件里没有音频流"));
    }
    stream = raw->streams[index];
    const AVCodecParameters* par = stream->codecpar;

    const auto head = par->codec_id == AV_CODEC_ID_OPUS
                          ? parseOpusHead(par->extradata, par->extradata_size)
                          : std::nullopt;
    if (head && head->mappingFamily == 0 && head->channels >= 1 && head->channels <= 2) {
        openOpus(*head);
    } else {
        if (!probed && (par->codec_id == AV_CODEC_ID_NONE || par->sample_rate <= 0)) {
            avformat_find_stream_info(raw, nullptr);
        }
        openCodec();
    }

    if (knownLength) {
        length = *knownLength;
    } else if (stream->duration != AV_NOPTS_VALUE) {
        length = lengthFromContainer();
        // A header's length that the file cannot hold is counted by decoding instead.
        const int64_t bytes = raw->pb ? avio_size(raw->pb) : -1;
        if (bytes >= 0 && length > bytes * maxSecondsPerByte * rate) {
            length = -1;
        }
    } else {
        length = -1; // worked out by the caller by decoding
    }
}

void AudioFileReader::Impl::openOpus(const OpusHead& head)
{
    rate = opusDecodeRate(head.inputRate);
    channels = head.channels;
    int err = OPUS_OK;
    opus.reset(opus_decoder_create(rate, channels, &err));
    if (err != OPUS_OK || !opus) {
        throw OpenError(QStringLiteral("Opus 解码器建不起来：") +
                            (err == OPUS_ALLOC_FAIL ? QStringLiteral("内存不够")
                                                    : QStringLiteral("声道或采样率不被接受")),
                        QString::fromUtf8(opus_strerror(err)));
    }
    opus_decoder_ctl(opus.get(), OPUS_SET_GAIN(int(head.gain)));
    skip = av_rescale(head.preSkip, rate, opusClockRate);
    packetPcm.resize(size_t(opusMaxFrames48) * size_t(channels));
}

void AudioFileReader::Impl::openCodec()
{
    const AVCodecParameters* par = stream->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (decoder == nullptr) {
        throw OpenError(QStringLiteral("没有能解这种音频的解码器"));
    }
    codec.reset(avcodec_alloc_context3(decoder));
    frame.reset(av_frame_alloc());
    if (!codec || !frame || avcodec_parameters_to_context(codec.get(), par) < 0) {
        throw OpenError(QStringLiteral("内存不够，建不出解码器"));
    }
    codec->pkt_timebase = stream->time_base;
    codec->request_sample_fmt = AV_SAMPLE_FMT_FLT;
    if (int r = avcodec_open2(codec.get(), decoder, nullptr); r < 0) {
        throw OpenError(QStringLiteral("解码器打不开：") + Ffmpeg::reason(r), Ffmpeg::text(r));
    }
    rate = codec->sample_rate;
    channels = codec->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0) {
        throw OpenError(QStringLiteral("音频格式不明（采样率或声道数缺失）"));
    }
    if (rate > maxSampleRate) {
        throw OpenError(QStringLiteral("文件头写的采样率 %1 Hz 不可能是真的录音（最高 384 kHz），"
                                       "文件坏了")
                            .arg(rate));
    }
}

qint64 AudioFileReader::Impl::lengthFromContainer() const
{
    const AVCodecParameters* par = stream->codecpar;
    if (stream->duration < 0 || stream->time_base.num <= 0 || stream->time_base.den <= 0) {
        return -1;
    }
    // av_rescale_q answers INT64_MIN when the result does not fit; the file then says nothing
    // usable about its length.
    if (opus) {
        // For Ogg the duration is the last granule position: 48 kHz samples including the
        // pre-skip, which is not audio.
        const qint64 at48 = av_rescale_q(stream->duration, stream->time_base, {1, opusClockRate});
        if (at48 < 0) {
            return -1;
        }
        const auto head = parseOpusHead(par->extradata, par->extradata_size);
        return av_rescale(std::max<qint64>(at48 - head->preSkip, 0), rate, opusClockRate);
    }
    const qint64 total = av_rescale_q(stream->duration, stream->time_base, {1, rate});
    if (total < 0) {
        return -1;
    }
    return std::max<qint64>(total - std::max(par->initial_padding, 0), 0);
}

bool AudioFileReader::Impl::refill()
{
    pending.clear();
    pendingAt = 0;
    while (!ended && !failed && pending.empty()) {
        if (!(opus ? refillOpus() : refillCodec())) {
            break;
        }
    }
    return !pending.empty();
}

// Decodes the next packet; false at the end or on failure (flags set).
bool AudioFileReader::Impl::refillOpus()
{
    int r = av_read_frame(format.get(), packet.get());
    if (r < 0) {
        ended = r == AVERROR_EOF;
        failed = !ended;
        return false;
    }
    if (packet->stream_index != stream->index) {
        av_packet_unref(packet.get());
        return true;
    }
    const int maxFrames = int(av_rescale(opusMaxFrames48, rate, opusClockRate));
    const int n =
        opus_decode_float(opus.get(), packet->data, packet->size, packetPcm.data(), maxFrames, 0);
    av_packet_unref(packet.get());
    if (n < 0) {
        failed = true;
        return false;
    }
    qint64 from = std::min<qint64>(skip, n);
    skip -= from;
    qint64 to = n;
    if (length >= 0) {
        // The last page's granule position ends the stream inside its last packet.
        to = std::clamp<qint64>(length - produced + from, from, n);
    }
    for (qint64 i = from; i < to; ++i) {
        pending.push_back(packetPcm[size_t(i * channels)]);
    }
    produced += to - from;
    if (length >= 0 && produced >= length) {
        ended = true;
    }
    return true;
}

// Takes the next decoded frame, feeding the decoder packets as it asks for them.
bool AudioFileReader::Impl::refillCodec()
{
    int r = avcodec_receive_frame(codec.get(), frame.get());
    if (r == 0) {
        const bool ok = appendFirstChannel(*frame, pending);
        av_frame_unref(frame.get());
        failed = !ok;
        return ok;
    }
    if (r == AVERROR_EOF) {
        ended = true;
        return false;
    }
    if (r != AVERROR(EAGAIN) || draining) {
        failed = true;
        return false;
    }
    r = av_read_frame(format.get(), packet.get());
    if (r == AVERROR_EOF) {
        // No more packets: let the decoder hand out what it still holds.
        draining = true;
        r = avcodec_send_packet(codec.get(), nullptr);
    } else if (r >= 0) {
        if (packet->stream_index == stream->index) {
            r = avcodec_send_packet(codec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
    if (r < 0) {
        failed = true;
        return false;
    }
    return true;
}

qint64 AudioFileReader::Impl::take(float* dst, qint64 maxFrames)
{
    qint64 done = 0;
    while (done < maxFrames) {
        if (pendingAt == pending.size() && !refill()) {
            break;
        }
        const qint64 n = std::min<qint64>(maxFrames - done, qint64(pending.size() - pendingAt));
        if (dst != nullptr) {
            std::copy_n(pending.data() + pendingAt, n, dst + done);
        }
        pendingAt += size_t(n);
        done += n;
    }
    position += done;
    return done;
}

AudioFileReader::AudioFileReader(const QString& path) : d(std::make_unique<Impl>())
{
    d->url = Ffmpeg::fileUrl(path);
    d->open(std::nullopt);
    if (d->length < 0) {
        // The container states no length: count the frames once, then start over.
        qint64 frames = 0;
        while (d->take(nullptr, 1 << 20) > 0) {
            frames = d->position;
        }
        auto fresh = std::make_unique<Impl>();
        fresh->url = d->url;
        fresh->open(frames);
        d = std::move(fresh);
    }
}

std::unique_ptr<AudioFileReader> AudioFileReader::tryOpen(const QString& path)
{
    try {
        return std::make_unique<AudioFileReader>(path);
    } catch (const OpenError&) {
        return nullptr;
    }
}

AudioFileReader::~AudioFileReader() = default;
AudioFileReader::AudioFileReader(AudioFileReader&&) noexcept = default;
AudioFileReader& AudioFileReader::operator=(AudioFileReader&&) noexcept = default;

double AudioFileReader::sampleRate() const
{
    return d->rate;
}

qint64 AudioFileReader::length() const
{
    return d->length;
}

int AudioFileReader::channelCount() const
{
    return d->channels;
}

qint64 AudioFileReader::position() const
{
    return d->position;
}

bool AudioFileReader::seek(qint64 frame)
{
    // Reopening is the one way back to the start that is exact for every format: decoders keep
    // state across packets and demuxers differ in how they restore start trimming after a seek.
    auto fresh = std::make_unique<Impl>();
    fresh->url = d->url;
    try {
        fresh->open(d->length);
    } catch (const OpenError&) {
        return false;
    }
    d = std::move(fresh);
    const qint64 target = std::max<qint64>(frame, 0);
    while (d->position < target && d->take(nullptr, target - d->position) > 0) {
    }
    return true;
}

qint64 AudioFileReader::read(float* dst, qint64 maxFrames)
{
    if (maxFrames <= 0) {
        return 0;
    }
    const qint64 n = d->take(dst, maxFrames);
    return n == 0 && d->failed ? -1 : n;
}
