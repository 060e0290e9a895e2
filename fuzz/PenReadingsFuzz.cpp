// The bodies of the pen's state answers: battery, gain, recording status, capacity, firmware and
// the name of the file being recorded.
#include "FuzzCheck.h"
#include "device/PenReadings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const auto first = PenReadings::firstByte(body);
    FUZZ_CHECK(first.has_value() == (size > 0));
    FUZZ_CHECK(!first || *first == data[0]);
    FUZZ_CHECK(PenReadings::capacity(body).has_value() == (size >= 8));
    const QString firmware = PenReadings::text(body);
    FUZZ_CHECK(!firmware.contains(QChar(0)));
    const auto current = PenReadings::currentName(body);
    FUZZ_CHECK(!current || (!current->isEmpty() && *current == firmware));
    return 0;
}
