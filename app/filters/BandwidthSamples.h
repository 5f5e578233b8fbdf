// The history of one-second bandwidth samples that a filter's and the status bar's
// averages are taken over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>

namespace tavrin {

// The longest history kept: a day of one-second samples. A longer window (only a
// hand-edited TIME_TO_CALC_AVERAGE_BANDWIDTH asks for one) is taken as this, so that
// a history cannot grow for the whole run of the program.
inline constexpr int32_t kMaxBandwidthWindow = 86400;

class BandwidthHistory {
public:
    using const_iterator = std::deque<int32_t>::const_iterator;
    using iterator = const_iterator;

    BandwidthHistory() = default;
    BandwidthHistory(std::initializer_list<int32_t> samples);
    BandwidthHistory(const BandwidthHistory& other);
    BandwidthHistory& operator=(const BandwidthHistory& other);
    BandwidthHistory(BandwidthHistory&&) noexcept = default;
    BandwidthHistory& operator=(BandwidthHistory&&) noexcept = default;

    // Appends `sample`, keeps only the last `window` samples and returns their mean,
    // rounded toward zero. A window below 1 keeps only the latest sample, so the mean
    // is that sample; one above kMaxBandwidthWindow keeps that many. The sum is kept
    // as samples come and go, in 64 bits, which no number of 32-bit samples a day
    // long can overflow.
    int64_t append(int32_t sample, int32_t window);

    void clear();
    size_t size() const { return samples().size(); }
    bool empty() const { return samples().empty(); }
    const_iterator begin() const { return samples().begin(); }
    const_iterator end() const { return samples().end(); }

    bool operator==(const BandwidthHistory& other) const { return samples() == other.samples(); }
    bool operator==(const std::deque<int32_t>& other) const { return samples() == other; }

private:
    const std::deque<int32_t>& samples() const;

    // Made at the first sample: an empty deque already takes a block of memory, and
    // every filter has a history, also the many that a large settings file holds.
    std::unique_ptr<std::deque<int32_t>> m_samples;
    int64_t m_sum = 0;
};

} // namespace tavrin
