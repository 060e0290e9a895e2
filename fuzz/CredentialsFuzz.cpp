// The credential file: whatever it holds reads as a blob, and a blob survives a save unchanged.
#include "FuzzCheck.h"
#include "cloud/TokenStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TokenStore::Blob loaded = TokenStore::decode(fuzzBytes(data, size));
    FUZZ_CHECK(TokenStore::decode(TokenStore::encode(loaded)) == loaded);
    return 0;
}
