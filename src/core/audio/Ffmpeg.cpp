#include "audio/Ffmpeg.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}
#include <array>
#include <cerrno>
#include <mutex>

namespace Ffmpeg {

void InputCloser::operator()(AVFormatContext* c) const
{
    avformat_close_input(&c);
}

void OutputCloser::operator()(AVFormatContext* c) const
{
    if (c->pb)
        avio_closep(&c->pb);
    avformat_free_context(c);
}

void CodecFreer::operator()(AVCodecContext* c) const
{
    avcodec_free_context(&c);
}

void PacketFreer::operator()(AVPacket* p) const
{
    av_packet_free(&p);
}

void FrameFreer::operator()(AVFrame* f) const
{
    av_frame_free(&f);
}

QByteArray fileUrl(const QString& path)
{
    return "file:" + QFile::encodeName(path);
}

QString text(int code)
{
    std::array<char, AV_ERROR_MAX_STRING_SIZE> buffer{};
    av_strerror(code, buffer.data(), buffer.size());
    return QString::fromUtf8(buffer.data());
}

int errorNumber(int code)
{
    // FFmpeg's own codes are tags far outside the range of error numbers.
    const int err = AVUNERROR(code);
    return code < 0 && err > 0 && err < 4096 ? err : 0;
}

QString reason(int code)
{
    switch (code) {
    case AVERROR_EOF:
        return QStringLiteral("文件提前结束了，可能没写完或被截断");
    case AVERROR_INVALIDDATA:
        return QStringLiteral("不是音频文件，或者文件已损坏");
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
        return QStringLiteral("不支持这种音频格式");
    case AVERROR_ENCODER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND:
        return QStringLiteral("缺少需要的编码器");
    default:
        break;
    }
    switch (errorNumber(code)) {
    case ENOENT:
        return QStringLiteral("文件不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有权限");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘满了");
    case EROFS:
        return QStringLiteral("磁盘是只读的");
    case ENOMEM:
        return QStringLiteral("内存不够");
    case EIO:
        return QStringLiteral("读写出错，磁盘或存储卡可能有问题");
    case EINVAL:
        return QStringLiteral("参数不被接受");
    case EISDIR:
        return QStringLiteral("这是一个文件夹");
    default:
        return QStringLiteral("FFmpeg 错误 %1").arg(code);
    }
}

void quiet()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

} // namespace Ffmpeg
