#pragma once

#include <QtGlobal>

// Where a transcode writes its mono float samples. Made for one destination, one sample rate
// and one bit rate; throws KestrelError when the encoder refuses those settings or a write
// fails. Only finish() puts a file under the destination's name.
class AudioEncoder {
public:
    virtual ~AudioEncoder() = default;
    virtual void write(const float* samples, qint64 frames) = 0;
    // Flushes the encoder and closes the file.
    virtual void finish() = 0;
};
