#include "audio/AudioFileWriter.h"

#include "audio/AudioFileReader.h"
#include "audio/Ffmpeg.h"
#include "platform/ExclusiveRename.h"
#include "platform/FolderSync.h"
#include "sync/FileError.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Kind = AudioFileWriter::WriteError::Kind;

QString formatName(AudioFileWriter::Format format)
{
    return format == AudioFileWriter::Format::M4a ? u"m4a"_s : u"WAV"_s;
}

} // namespace

struct AudioFileWriter::Impl {
    QString path;      // the name the file is to have (FileError sentences name it)
    QString temporary; // where it is written
    Format format = Format::M4a;
    Placement placement = Placement::Replace;
    bool placed = false;
    std::unique_ptr<AVFormatContext, Ffmpeg::OutputCloser> out;
    AVStream* stream = nullptr;
    std::unique_ptr<AVCodecContext, Ffmpeg::CodecFreer> codec;
    std::unique_ptr<AVFrame, Ffmpeg::FrameFreer> frame;
    std::unique_ptr<AVPacket, Ffmpeg::PacketFreer> packet{av_packet_alloc()};
    int frameSize = 0; // samples per encoder frame

    // Here rather than in the writer's destructor, so a constructor that throws cleans up too.
    ~Impl()
    {
        out.reset();
        if (!placed && !temporary.isEmpty())
            QFile::remove(temporary);
    }

    int filled = 0; // samples waiting in `frame`
    qint64 written = 0;

    void check(int result, const QString& what) const
    {
        if (result < 0)
            throw WriteError(Kind::Refused, what + u"："_s + Ffmpeg::reason(result),
                             Ffmpeg::text(result));
    }

    // A write the disk refuses says which folder and what to do.
    void checkWrite(int result, const QString& what) const
    {
        if (result < 0) {
            const FileError refused =
                FileError::writeFailed(path, Ffmpeg::text(result), Ffmpeg::errorNumber(result));
            if (refused.blocksWrites())
                throw refused;
        }
        check(result, what);
    }

    QString writeFailed() const { return u"写 "_s + formatName(format) + u" 文件失败"_s; }

    void sendFrame(const AVFrame* f)
    {
        check(avcodec_send_frame(codec.get(), f), u"编码失败"_s);
        for (;;) {
            const int r = avcodec_receive_packet(codec.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            check(r, u"编码失败"_s);
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            checkWrite(av_interleaved_write_frame(out.get(), packet.get()), writeFailed());
        }
    }

    void flushFrame()
    {
        frame->nb_samples = filled;
        frame->pts = written - filled;
        sendFrame(frame.get());
        filled = 0;
        // The encoder may still hold the buffer it was given.
        frame->nb_samples = frameSize;
        check(av_frame_make_writable(frame.get()), u"编码失败"_s);
    }

    void place()
    {
        // The bytes reach the disk before the name does, so a power cut leaves the old file or
        // the whole new one.
        if (const int fd = ::open(QFile::encodeName(temporary).constData(), O_RDONLY); fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        const QFileInfo target(path);
        if (placement == Placement::Replace) {
            if (std::rename(QFile::encodeName(temporary).constData(),
                            QFile::encodeName(path).constData()) != 0) {
                const int err = errno;
                throw FileError::writeFailed(path, QString::fromLocal8Bit(strerror(err)), err);
            }
        } else {
            const QString to = ExclusiveRename::moveToFreeName(
                temporary, target.path(), target.completeBaseName(), u"."_s + target.suffix());
            if (to.isEmpty()) {
                const int err = errno;
                throw FileError::writeFailed(path, QString::fromLocal8Bit(strerror(err)), err);
            }
            path = to;
        }
        placed = true;
        FolderSync::sync(target.path());
    }
};

AudioFileWriter::AudioFileWriter(const QString& path, Format format, int sampleRate, int bitrate,
                                 Placement placement)
    : d(std::make_unique<Impl>())
{
    Ffmpeg::quiet();
    d->path = path;
    d->format = format;
    d->placement = placement;
    const bool aac = format == Format::M4a;
    const AVCodec* encoder = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_PCM_S16LE);
    if (!encoder || !d->packet)
        throw WriteError(Kind::Refused,
                         aac ? u"没有可用的 AAC 编码器"_s : u"没有可用的 WAV 编码器"_s);

    // A name no one else has in the destination's folder: nothing there is ever truncated.
    {
        QTemporaryFile reserve(QFileInfo(path).path() + u"/.kestrel-XXXXXX.part"_s);
        reserve.setAutoRemove(false);
        errno = 0;
        if (!reserve.open()) {
            const int err = errno;
            throw FileError::writeFailed(path, reserve.errorString(), err);
        }
        d->temporary = reserve.fileName();
    }
    const QByteArray url = Ffmpeg::fileUrl(d->temporary);
    AVFormatContext* raw = nullptr;
    // The "ipod" muxer is MPEG-4 audio as .m4a players expect it.
    d->check(avformat_alloc_output_context2(&raw, nullptr, aac ? "ipod" : "wav", url.constData()),
             u"建不了 "_s + formatName(format) + u" 文件"_s);
    d->out.reset(raw);

    d->codec.reset(avcodec_alloc_context3(encoder));
    if (!d->codec)
        throw WriteError(Kind::Refused, u"内存不够，建不出编码器"_s);
    AVCodecContext* c = d->codec.get();
    c->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    c->sample_rate = sampleRate;
    av_channel_layout_default(&c->ch_layout, 1);
    c->time_base = {1, sampleRate};
    if (aac)
        c->bit_rate = bitrate;
    if (raw->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // The fast coder encodes about four times quicker than the default search, which matters for
    // hours-long recordings, and speech loses nothing audible by it.
    AVDictionary* options = nullptr;
    if (aac)
        av_dict_set(&options, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(c, encoder, &options);
    av_dict_free(&options);
    const QString refused = (aac ? u"AAC"_s : u"WAV"_s) + u" 编码器不接受这个设置"_s;
    d->check(opened, refused);

    d->stream = avformat_new_stream(raw, nullptr);
    if (!d->stream)
        throw WriteError(Kind::Refused, u"内存不够，建不出音轨"_s);
    d->check(avcodec_parameters_from_context(d->stream->codecpar, c), refused);
    d->stream->time_base = c->time_base;

    // PCM takes frames of any length; blocks of 4096 keep the buffer small.
    d->frameSize = c->frame_size > 0 ? c->frame_size : 4096;
    d->frame.reset(av_frame_alloc());
    if (!d->frame)
        throw WriteError(Kind::Refused, u"内存不够，建不出编码缓冲"_s);
    d->frame->format = c->sample_fmt;
    d->frame->sample_rate = sampleRate;
    d->frame->nb_samples = d->frameSize;
    d->check(av_channel_layout_copy(&d->frame->ch_layout, &c->ch_layout), u"编码失败"_s);
    d->check(av_frame_get_buffer(d->frame.get(), 0), u"内存不够，建不出编码缓冲"_s);

    d->checkWrite(avio_open(&raw->pb, url.constData(), AVIO_FLAG_WRITE),
                  u"建不了 "_s + formatName(format) + u" 文件"_s);
    d->checkWrite(avformat_write_header(raw, nullptr), d->writeFailed());
}

AudioFileWriter::~AudioFileWriter() = default;

void AudioFileWriter::write(const float* samples, qint64 frames)
{
    const bool planarFloat = d->format == Format::M4a;
    while (frames > 0) {
        const int n = int(std::min<qint64>(frames, d->frameSize - d->filled));
        if (planarFloat) {
            std::copy_n(samples, n, reinterpret_cast<float*>(d->frame->data[0]) + d->filled);
        } else {
            auto* dst = reinterpret_cast<int16_t*>(d->frame->data[0]) + d->filled;
            for (int i = 0; i < n; ++i)
                dst[i] = int16_t(std::lrint(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
        }
        d->filled += n;
        d->written += n;
        samples += n;
        frames -= n;
        if (d->filled == d->frameSize)
            d->flushFrame();
    }
}

void AudioFileWriter::finish()
{
    if (d->filled > 0)
        d->flushFrame(); // the encoder takes a shorter last frame
    d->sendFrame(nullptr);
    d->checkWrite(av_write_trailer(d->out.get()), d->writeFailed());
    d->checkWrite(avio_closep(&d->out->pb), d->writeFailed());
    d->out.reset();

    // Only a file that reads back as audio takes the name.
    const auto check = AudioFileReader::tryOpen(d->temporary);
    if (!check || check->length() < 1)
        throw WriteError(Kind::Unreadable,
                         u"写出的 "_s + formatName(d->format) + u" 文件读不回来"_s);
    d->place();
}

QString AudioFileWriter::path() const
{
    return d->path;
}

qint64 AudioFileWriter::framesWritten() const
{
    return d->written;
}
