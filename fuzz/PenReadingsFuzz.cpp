// The bodies of the pen's state answers: battery, gain, recording status, capacity, firmware and
// the name of the file being recorded.
#include "FuzzCheck.h"
#include "device/PenReadings.h"

namespace {

uint32_t littleEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto first = PenReadings::firstByte(body);
    FUZZ_CHECK(first.has_value() == (size > 0));
    FUZZ_CHECK(!first || *first == data[0]);
    const auto capacity = PenReadings::capacity(body);
    FUZZ_CHECK(capacity.has_value() == (size >= 8));
    FUZZ_CHECK(!capacity || (capacity->remain == littleEndian32(data) &&
                             capacity->total == littleEndian32(data + 4)));
    const QString firmware = PenReadings::text(body);
    FUZZ_CHECK(!firmware.contains(QChar(0)));
    const auto current = PenReadings::currentName(body);
    FUZZ_CHECK(!current || (!current->isEmpty() && *current == firmware));
    return 0;
}
