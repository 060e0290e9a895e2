// The waveform cache as another copy of the app or a person may have left it: bars that load,
// saved and loaded again, are the same bars, and a second save writes the same bytes.
#include "FuzzCheck.h"
#include "audio/Waveform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto loaded = Waveform::decodeCache(fuzzBytes(data, size));
    if (!loaded)
        return 0;
    FUZZ_CHECK(loaded->size() == size_t(Waveform::barCount));
    const QByteArray saved = Waveform::encodeCache(*loaded);
    const auto again = Waveform::decodeCache(saved);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *loaded);
    FUZZ_CHECK(Waveform::encodeCache(*again) == saved);
    return 0;
}
