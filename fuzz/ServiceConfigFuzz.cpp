// The service configuration: either it decodes and survives a save unchanged, or it is refused
// with a sentence saying why.
#include "FuzzCheck.h"
#include "cloud/MindvaultConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MindvaultConfig loaded;
    try {
        loaded = MindvaultConfig::decode(fuzzBytes(data, size));
    } catch (const MindvaultConfig::LoadError& e) {
        FUZZ_CHECK(!e.description().isEmpty());
        return 0;
    }
    FUZZ_CHECK(MindvaultConfig::decode(loaded.encode()) == loaded);
    return 0;
}
