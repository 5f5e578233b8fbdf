// A counter reply as anything at the device socket may return it, against a filter
// list of any length: the bandwidth monitor stays inside its tables and its sums
// never turn negative except for "not measured".
#include "BandwidthMonitor.h"
#include "FuzzCheck.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const size_t filters = data[0];
    const bool hidden = (data[1] & 1) != 0;
    const int32_t window = static_cast<int8_t>(data[2]);
    size_t at = 3;
    std::vector<int32_t> available;
    for (size_t i = 0; i < filters && at < size; ++i)
        available.push_back(static_cast<int8_t>(data[at++]) % 3);
    tavrin::core::BandwidthMonitor monitor;
    // The rest is the reply, read twice so that sums add up.
    const std::span<const uint8_t> reply(data + at, size - at);
    for (int round = 0; round < 2; ++round)
        monitor.addReading(reply, available);
    for (size_t k = 0; k <= available.size(); ++k)
        FUZZ_CHECK(monitor.accumulator(k) >= 0, "accumulators count bytes");
    FUZZ_CHECK(monitor.sentSum() >= -1 && monitor.receivedSum() >= -1, "sums count bytes");
    size_t sampled = 0;
    const auto second =
        monitor.secondTick(available.size(), hidden, window, [&](size_t k, int32_t bytes) {
            FUZZ_CHECK(k == sampled, "every position in order");
            FUZZ_CHECK(bytes >= 0, "samples count bytes");
            ++sampled;
        });
    FUZZ_CHECK(sampled == available.size(), "every filter gets its sample");
    FUZZ_CHECK(monitor.sentAverage() >= 0 && monitor.receivedAverage() >= 0, "averages are rates");
    FUZZ_CHECK(!tavrin::core::BandwidthMonitor::paneText(0, second.sent).empty(), "a pane text");
    return 0;
}
