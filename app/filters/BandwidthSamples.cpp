#include "BandwidthSamples.h"

#include <algorithm>

namespace tavrin {

BandwidthHistory::BandwidthHistory(std::initializer_list<int32_t> samples) : m_samples(samples) {
    for (int32_t s : m_samples)
        m_sum += s;
}

int64_t BandwidthHistory::append(int32_t sample, int32_t window) {
    const auto limit = static_cast<size_t>(std::clamp(window, 1, kMaxBandwidthWindow));
    m_samples.push_back(sample);
    m_sum += sample;
    while (m_samples.size() > limit) {
        m_sum -= m_samples.front();
        m_samples.pop_front();
    }
    return m_sum / static_cast<int64_t>(m_samples.size());
}

void BandwidthHistory::clear() {
    m_samples.clear();
    m_sum = 0;
}

} // namespace tavrin
