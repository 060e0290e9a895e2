// Other containers (WAV, CAF, M4A, whatever FFmpeg recognises) as bytes: the reader, screening
// and the waveform must refuse or read them, never crash, hang or take memory the file cannot
// justify.
#include "AudioFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    exerciseAudio(fuzzAudioFile(fuzzBytes(data, size)));
    return 0;
}
