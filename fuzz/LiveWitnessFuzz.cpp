// The recording-time evidence file: what decodes, encoded and decoded again, is the same
// evidence to the millisecond.
#include "FuzzCheck.h"
#include "sync/LiveWitness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto loaded = LiveWitness::decodeFile(fuzzBytes(data, size));
    if (!loaded)
        return 0;
    const QByteArray saved = LiveWitness::encodeFile(*loaded);
    const auto again = LiveWitness::decodeFile(saved);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *loaded);
    FUZZ_CHECK(LiveWitness::encodeFile(*again) == saved);
    return 0;
}
