// Ogg Opus files as a pen or another program may deliver them: pages, granule positions and the
// OpusHead fields are the input's. Page checksums are set right before the file is read, so the
// mutations reach the reader instead of dying in the demuxer's checksum test.
#include "AudioFuzz.h"
#include "audio/OggWrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes = fuzzBytes(data, size);
    qsizetype at = 0;
    while ((at = bytes.indexOf("OggS", at)) >= 0 && at + 27 <= bytes.size()) {
        const int segments = uint8_t(bytes[at + 26]);
        qsizetype body = 0;
        for (int i = 0; i < segments && at + 27 + i < bytes.size(); ++i)
            body += uint8_t(bytes[at + 27 + i]);
        const qsizetype length = 27 + segments + body;
        if (at + length > bytes.size()) {
            ++at;
            continue;
        }
        char* page = bytes.data() + at;
        std::fill(page + 22, page + 26, '\0');
        const uint32_t crc = OggWrap::crc(page, length);
        for (int i = 0; i < 4; ++i)
            page[22 + i] = char(crc >> (8 * i));
        at += length;
    }
    exerciseAudio(fuzzAudioFile(bytes));
    return 0;
}
