// The history of one-second bandwidth samples that a filter's and the status bar's
// averages are taken over.
#pragma once

#include <cstdint>
#include <deque>

namespace tavrin {

// Appends `sample` to `history`, keeps only its last `window` samples and returns
// their mean, rounded toward zero. A window below 1 keeps only the latest sample, so
// the mean is that sample. The sum is 64-bit: it cannot overflow for any window a
// deque can hold.
int64_t appendBandwidthSample(std::deque<int32_t>& history, int32_t sample, int32_t window);

} // namespace tavrin
