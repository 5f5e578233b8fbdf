// The last ten minutes of bandwidth, one sample a second: the sent and received
// totals and every filter's bytes of that second, for the bandwidth graph. Fed by
// the session's second tick, so it costs nothing per packet and keeps its data
// whether anyone looks at it or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace tavrin::core {

struct BandwidthLogSample {
    int64_t time = 0; // milliseconds since 1970 (UTC), when the second ended
    int32_t sent = 0; // bytes of that second
    int32_t received = 0;
    // (filter ID, bytes of that second) for every filter in force that has an ID.
    std::vector<std::pair<int32_t, int32_t>> filters;

    // The filter's bytes in this sample; nullopt when the filter was not there.
    std::optional<int32_t> filterBytes(int32_t filterId) const;
};

class BandwidthLog final {
public:
    static constexpr int64_t kSpanMilliseconds = 600'000;
    // Bounds the log even when ticks come faster than once a second.
    static constexpr size_t kMaxSamples = 1200;

    // Appends a sample and forgets those that lie ten minutes or more before it. A
    // sample dated before the newest one (the clock was set back) first drops the
    // samples after its time, so the times never go back.
    void record(BandwidthLogSample sample);

    // Oldest first; empty while nothing was measured.
    const std::deque<BandwidthLogSample>& samples() const { return m_samples; }
    bool empty() const { return m_samples.empty(); }
    // How many samples were ever recorded: a reader's way to see that one came.
    uint64_t recordedCount() const { return m_recorded; }

private:
    std::deque<BandwidthLogSample> m_samples;
    uint64_t m_recorded = 0;
};

} // namespace tavrin::core
