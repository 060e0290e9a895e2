// The device-binding file: whatever it holds reads as bindings, and they survive a save
// unchanged.
#include "FuzzCheck.h"
#include "cloud/DeviceBinding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DeviceBinding::Map loaded = DeviceBinding::decode(fuzzBytes(data, size));
    FUZZ_CHECK(DeviceBinding::decode(DeviceBinding::encode(loaded)) == loaded);
    return 0;
}
