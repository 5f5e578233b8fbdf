#include "BandwidthSamples.h"

#include <algorithm>

namespace tavrin {

BandwidthHistory::BandwidthHistory(std::initializer_list<int32_t> samples) {
    if (samples.size() == 0)
        return;
    m_samples = std::make_unique<std::deque<int32_t>>(samples);
    for (int32_t s : *m_samples)
        m_sum += s;
}

BandwidthHistory::BandwidthHistory(const BandwidthHistory& other)
    : m_samples(other.m_samples ? std::make_unique<std::deque<int32_t>>(*other.m_samples)
                                : nullptr),
      m_sum(other.m_sum) {}

BandwidthHistory& BandwidthHistory::operator=(const BandwidthHistory& other) {
    if (this != &other)
        *this = BandwidthHistory(other);
    return *this;
}

const std::deque<int32_t>& BandwidthHistory::samples() const {
    static const std::deque<int32_t> none;
    return m_samples ? *m_samples : none;
}

int64_t BandwidthHistory::append(int32_t sample, int32_t window) {
    const auto limit = static_cast<size_t>(std::clamp(window, 1, kMaxBandwidthWindow));
    if (!m_samples)
        m_samples = std::make_unique<std::deque<int32_t>>();
    std::deque<int32_t>& samples = *m_samples;
    samples.push_back(sample);
    m_sum += sample;
    while (samples.size() > limit) {
        m_sum -= samples.front();
        samples.pop_front();
    }
    return m_sum / static_cast<int64_t>(samples.size());
}

void BandwidthHistory::clear() {
    m_samples.reset();
    m_sum = 0;
}

} // namespace tavrin
