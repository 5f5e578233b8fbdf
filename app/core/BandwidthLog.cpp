#include "BandwidthLog.h"

namespace tavrin::core {

std::optional<int32_t> BandwidthLogSample::filterBytes(int32_t filterId) const {
    for (const auto& [id, bytes] : filters)
        if (id == filterId)
            return bytes;
    return std::nullopt;
}

void BandwidthLog::record(BandwidthLogSample sample) {
    while (!m_samples.empty() && m_samples.back().time > sample.time)
        m_samples.pop_back();
    const int64_t oldest = sample.time - kSpanMilliseconds;
    m_samples.push_back(std::move(sample));
    while (m_samples.front().time <= oldest || m_samples.size() > kMaxSamples)
        m_samples.pop_front();
    ++m_recorded;
}

} // namespace tavrin::core
