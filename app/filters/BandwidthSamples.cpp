#include "BandwidthSamples.h"

#include <algorithm>

namespace tavrin {

BandwidthHistory::BandwidthHistory(std::initializer_list<int32_t> samples) {
    if (samples.size() == 0)
        return;
    m_samples.emplace(samples);
    for (int32_t s : *m_samples)
        m_sum += s;
}

const std::deque<int32_t>& BandwidthHistory::samples() const {
    static const std::deque<int32_t> none;
    return m_samples ? *m_samples : none;
}

int64_t BandwidthHistory::append(int32_t sample, int32_t window) {
    const auto limit = static_cast<size_t>(std::clamp(window, 1, kMaxBandwidthWindow));
    std::deque<int32_t>& samples = m_samples ? *m_samples : m_samples.emplace();
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
