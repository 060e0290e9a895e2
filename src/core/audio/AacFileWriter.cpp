#include "audio/AacFileWriter.h"

#include "sync/FileError.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}
#include <algorithm>
#include <array>

namespace {

QString avError(int code)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return QString::fromUtf8(text.data());
}

void check(int result, const char* what)
{
    if (result < 0) {
        throw AacFileWriter::WriteError(QString::fromUtf8(what) + QStringLiteral("：") +
                                        avError(result));
    }
}

// A write the disk refuses (full, read-only) says which folder and what to do.
void checkWrite(int result, const char* what, const QString& path)
{
    if (result < 0) {
        const FileError refused = FileError::writeFailed(path, avError(result), AVUNERROR(result));
        if (refused.blocksWrites())
            throw refused;
    }
    check(result, what);
}

struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

} // namespace

struct AacFileWriter::Impl {
    QString path;
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<AVFrame, FrameFreer> frame;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    int filled = 0; // samples waiting in `frame`
    int64_t pts = 0;

    ~Impl()
    {
        if (format) {
            avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    void sendFrame(AVFrame* f)
    {
        check(avcodec_send_frame(codec.get(), f), "AAC 编码失败");
        for (;;) {
            const int r = avcodec_receive_packet(codec.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            check(r, "AAC 编码失败");
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            checkWrite(av_interleaved_write_frame(format, packet.get()), "写 m4a 失败", path);
        }
    }

    void flushFrame()
    {
        frame->nb_samples = filled;
        frame->pts = pts;
        pts += filled;
        filled = 0;
        sendFrame(frame.get());
        // The encoder may still hold the buffer it was given.
        frame->nb_samples = codec->frame_size;
        check(av_frame_make_writable(frame.get()), "AAC 编码失败");
    }
};

AacFileWriter::AacFileWriter(const QString& path, int sampleRate, int bitrate)
    : d(std::make_unique<Impl>())
{
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder || !d->packet)
        throw WriteError(QStringLiteral("没有可用的 AAC 编码器"));
    d->path = path;
    const QByteArray url = "file:" + QFile::encodeName(path);
    // The "ipod" muxer is MPEG-4 audio as .m4a players expect it.
    check(avformat_alloc_output_context2(&d->format, nullptr, "ipod", url.constData()),
          "建不了 m4a 文件");

    d->codec.reset(avcodec_alloc_context3(encoder));
    if (!d->codec)
        throw WriteError(QStringLiteral("内存不够，建不出 AAC 编码器"));
    AVCodecContext* c = d->codec.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = sampleRate;
    av_channel_layout_default(&c->ch_layout, 1);
    c->bit_rate = bitrate;
    c->time_base = {1, sampleRate};
    if (d->format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The fast coder encodes about four times quicker than the default search, which matters for
    // hours-long recordings, and speech loses nothing audible by it.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(c, encoder, &options);
    av_dict_free(&options);
    check(opened, "AAC 编码器不接受这个设置");

    d->stream = avformat_new_stream(d->format, nullptr);
    if (!d->stream)
        throw WriteError(QStringLiteral("内存不够，建不出 m4a 音轨"));
    check(avcodec_parameters_from_context(d->stream->codecpar, c), "AAC 编码器不接受这个设置");
    d->stream->time_base = c->time_base;

    d->frame.reset(av_frame_alloc());
    if (!d->frame)
        throw WriteError(QStringLiteral("内存不够，建不出编码缓冲"));
    d->frame->format = c->sample_fmt;
    d->frame->sample_rate = sampleRate;
    d->frame->nb_samples = c->frame_size;
    check(av_channel_layout_copy(&d->frame->ch_layout, &c->ch_layout), "AAC 编码失败");
    check(av_frame_get_buffer(d->frame.get(), 0), "内存不够，建不出编码缓冲");

    checkWrite(avio_open(&d->format->pb, url.constData(), AVIO_FLAG_WRITE), "建不了 m4a 文件",
               path);
    checkWrite(avformat_write_header(d->format, nullptr), "写 m4a 失败", path);
}

AacFileWriter::~AacFileWriter() = default;

void AacFileWriter::write(const float* samples, qint64 frames)
{
    const int frameSize = d->codec->frame_size;
    while (frames > 0) {
        const int n = int(std::min<qint64>(frames, frameSize - d->filled));
        auto* dst = reinterpret_cast<float*>(d->frame->data[0]) + d->filled;
        std::copy_n(samples, n, dst);
        d->filled += n;
        samples += n;
        frames -= n;
        if (d->filled == frameSize)
            d->flushFrame();
    }
}

void AacFileWriter::finish()
{
    if (d->filled > 0)
        d->flushFrame(); // the encoder takes a shorter last frame
    d->sendFrame(nullptr);
    checkWrite(av_write_trailer(d->format), "写 m4a 失败", d->path);
    checkWrite(avio_closep(&d->format->pb), "写 m4a 失败", d->path);
}
