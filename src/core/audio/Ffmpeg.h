#pragma once

#include <QByteArray>
#include <QString>

extern "C" {
struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
}

// What every user of FFmpeg here shares: owners for its objects, file URLs, and its error
// codes as a short Chinese reason for the user beside its own text for the log.
namespace Ffmpeg {

struct InputCloser {
    void operator()(AVFormatContext* c) const;
};
// An output context and the file it opened.
struct OutputCloser {
    void operator()(AVFormatContext* c) const;
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const;
};
struct PacketFreer {
    void operator()(AVPacket* p) const;
};
struct FrameFreer {
    void operator()(AVFrame* f) const;
};

// The explicit "file:" protocol keeps names with a colon ("exports:wav/a.wav") from being taken
// for a URL scheme.
QByteArray fileUrl(const QString& path);

// FFmpeg's own text for an error code (English), for the log.
QString text(int code);
// The same as a short Chinese reason: the file ends early, is no audio file, no permission,
// disk full, …; a code without one of its own gives its number.
QString reason(int code);
// The error number behind an FFmpeg code, 0 when it is FFmpeg's own.
int errorNumber(int code);

// The caller reports every failure itself; FFmpeg's console chatter about damaged files would
// only repeat it, once per file of an archive check.
void quiet();

} // namespace Ffmpeg
