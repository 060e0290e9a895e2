#include "audio/WavExport.h"

#include "audio/AudioFileReader.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <algorithm>
#include <cmath>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct OutputCloser {
    void operator()(AVFormatContext* c) const
    {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

constexpr int blockFrames = 4096;

class Writer {
public:
    Writer(const QString& path, int sampleRate)
    {
        const QByteArray file = QFile::encodeName(path);
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "wav", file.constData()) < 0 || !raw)
            fail();
        m_out.reset(raw);
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        AVStream* stream = codec ? avformat_new_stream(raw, nullptr) : nullptr;
        m_codec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!stream || !m_codec)
            fail();
        m_codec->sample_fmt = AV_SAMPLE_FMT_S16;
        m_codec->sample_rate = sampleRate;
        m_codec->time_base = AVRational{1, sampleRate};
        av_channel_layout_default(&m_codec->ch_layout, 1);
        if (avcodec_open2(m_codec.get(), codec, nullptr) < 0 ||
            avcodec_parameters_from_context(stream->codecpar, m_codec.get()) < 0)
            fail();
        stream->time_base = m_codec->time_base;
        if (avio_open(&raw->pb, file.constData(), AVIO_FLAG_WRITE) < 0 ||
            avformat_write_header(raw, nullptr) < 0)
            fail();
        m_packet.reset(av_packet_alloc());
        m_frame.reset(av_frame_alloc());
        if (!m_packet || !m_frame)
            fail();
    }

    void append(const float* samples, int count)
    {
        AVFrame* f = m_frame.get();
        av_frame_unref(f);
        f->format = AV_SAMPLE_FMT_S16;
        f->sample_rate = m_codec->sample_rate;
        f->nb_samples = count;
        f->pts = m_written;
        av_channel_layout_default(&f->ch_layout, 1);
        if (av_frame_get_buffer(f, 0) < 0)
            fail();
        auto* out = reinterpret_cast<int16_t*>(f->data[0]);
        for (int i = 0; i < count; ++i)
            out[i] = int16_t(std::lrint(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
        m_written += count;
        encode(f);
    }

    void finish()
    {
        encode(nullptr);
        if (av_write_trailer(m_out.get()) < 0 || avio_closep(&m_out->pb) < 0)
            fail();
    }

    qint64 written() const { return m_written; }

private:
    [[noreturn]] static void fail() { throw WavExport::Error(u"WAV文件写不出来"_s); }

    void encode(const AVFrame* frame)
    {
        if (avcodec_send_frame(m_codec.get(), frame) < 0)
            fail();
        while (true) {
            const int r = avcodec_receive_packet(m_codec.get(), m_packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            if (r < 0)
                fail();
            av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_out->streams[0]->time_base);
            m_packet->stream_index = 0;
            if (av_interleaved_write_frame(m_out.get(), m_packet.get()) < 0)
                fail();
        }
    }

    std::unique_ptr<AVFormatContext, OutputCloser> m_out;
    std::unique_ptr<AVCodecContext, CodecFreer> m_codec;
    std::unique_ptr<AVPacket, PacketFreer> m_packet;
    std::unique_ptr<AVFrame, FrameFreer> m_frame;
    qint64 m_written = 0;
};

} // namespace

namespace WavExport {

qint64 write(const QString& source, const QString& destination)
{
    AudioFileReader reader(source);
    const QString partial = destination + u".part"_s;
    try {
        qint64 frames = 0;
        {
            Writer writer(partial, int(std::lround(reader.sampleRate())));
            std::vector<float> block(blockFrames);
            while (true) {
                const qint64 n = reader.read(block.data(), blockFrames);
                if (n < 0)
                    throw Error(u"录音解码到一半坏了，没法转成WAV"_s);
                if (n == 0)
                    break;
                writer.append(block.data(), int(n));
            }
            writer.finish();
            frames = writer.written();
        }
        QFile::remove(destination);
        if (!QFile::rename(partial, destination))
            throw Error(u"WAV文件写不出来"_s);
        return frames;
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
}

} // namespace WavExport
