#include "BandwidthSamples.h"

#include <cstddef>

namespace tavrin {

int64_t appendBandwidthSample(std::deque<int32_t>& history, int32_t sample, int32_t window) {
    const size_t limit = window < 1 ? 1 : static_cast<size_t>(window);
    history.push_back(sample);
    while (history.size() > limit)
        history.pop_front();
    int64_t sum = 0;
    for (int32_t s : history)
        sum += s;
    return sum / static_cast<int64_t>(history.size());
}

} // namespace tavrin
