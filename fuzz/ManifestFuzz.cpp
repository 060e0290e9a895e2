// The ledger as another copy of the app or a person may have left it: a ledger that loads, saved
// and loaded again, is the same ledger; one that does not load is empty and marked untrustworthy
// (so it is never written back).
#include "FuzzCheck.h"
#include "sync/SyncManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const SyncManifest loaded = SyncManifest::decode(fuzzBytes(data, size));
    if (!loaded.isTrustworthy) {
        SyncManifest empty;
        empty.isTrustworthy = false;
        FUZZ_CHECK(loaded == empty);
        return 0;
    }
    const QByteArray saved = loaded.encode();
    const SyncManifest again = SyncManifest::decode(saved);
    FUZZ_CHECK(again == loaded);
    FUZZ_CHECK(again.encode() == saved);
    return 0;
}
