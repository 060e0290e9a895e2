// The user's settings file: what decodes survives a save unchanged.
#include "FuzzCheck.h"
#include "sync/CleanupSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto loaded = CleanupSettings::decode(fuzzBytes(data, size));
    if (!loaded)
        return 0;
    const auto again = CleanupSettings::decode(loaded->encode());
    FUZZ_CHECK(again == loaded);
    return 0;
}
