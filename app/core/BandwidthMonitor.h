// Turns the daemon's per-period byte counters into bandwidth: a per-filter
// accumulator for the current second, the sent and received sums of the second,
// their histories and integer means, and the status bar texts.
#pragma once

#include "BandwidthSamples.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tavrin::core {

inline constexpr int kPaneTotal = 106;
inline constexpr int kPaneUp = 104;
inline constexpr int kPaneDown = 105;

class BandwidthMonitor final {
public:
    static constexpr int32_t kNotMeasured = -1;

    BandwidthMonitor() { clear(); }

    // Start-up: accumulators 0, both sums not measured. Histories are kept.
    void clear();
    // The daemon cannot be read (its link is down): the sums are not measured again
    // until the next reading, so the seconds without one show "未測定" and add
    // nothing to the averages.
    void interrupt();

    // Read tick, with the bytes CLEAR_BANDWIDTH returned. `available` holds, per
    // position of the filter list in force, that filter's AVAILABLE value (1: it is a
    // rule). There is an accumulator for every position, however long the list, so
    // every rule the daemon counts reaches its filter. False when the reply is no
    // counter reply at all (then nothing is counted).
    bool addReading(std::span<const uint8_t> reply, std::span<const int32_t> available);

    // Second tick. Calls `sample(position, bytes)` for every position below
    // `filterCount` with that filter's bytes of the second and clears its accumulator.
    // While the window is visible, measured sums enter their histories of at most
    // `window` values and the averages are recomputed. Measured sums start the next
    // second at 0; unmeasured ones stay unmeasured until a reading comes.
    struct Second {
        bool visible = false;
        int32_t sent = 0; // the sums of the second that ended
        int32_t received = 0;
    };
    Second secondTick(size_t filterCount, bool hidden, int32_t window,
                      const std::function<void(size_t, int32_t)>& sample);

    int32_t accumulator(size_t position) const {
        return position < m_accumulators.size() ? m_accumulators[position] : 0;
    }
    int32_t sentSum() const { return m_sentSum; }
    int32_t receivedSum() const { return m_receivedSum; }
    int32_t sentAverage() const { return m_sentAverage; }
    int32_t receivedAverage() const { return m_receivedAverage; }

    // " UP     1.5 KB/s", or " UP    未測定" for a value not measured. `which` is 0 for UP
    // and 1 for DOWN.
    static std::string paneText(int which, int32_t value);

private:
    std::vector<int32_t> m_accumulators; // by list position
    int32_t m_sentSum = kNotMeasured;
    int32_t m_receivedSum = kNotMeasured;
    BandwidthHistory m_sentHistory;
    BandwidthHistory m_receivedHistory;
    int32_t m_sentAverage = 0;
    int32_t m_receivedAverage = 0;
};

} // namespace tavrin::core
