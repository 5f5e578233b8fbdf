#include "BandwidthMonitor.h"

#include "OvlankProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tavrin::core {

namespace {

uint32_t valueAt(std::span<const uint8_t> reply, size_t index) {
    uint32_t value = 0;
    std::memcpy(&value, reply.data() + 4 * index, sizeof value);
    return value;
}

// Counters are unsigned 32-bit; the sums are signed. Saturate instead of wrapping
// into negative values (which would read as "not measured" or worse).
void addSaturating(int32_t& sum, uint32_t value) {
    const int64_t total = static_cast<int64_t>(sum) + value;
    sum = static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
}

} // namespace

void BandwidthMonitor::clear() {
    m_accumulators.clear();
    interrupt();
}

void BandwidthMonitor::interrupt() {
    m_sentSum = kNotMeasured;
    m_receivedSum = kNotMeasured;
}

bool BandwidthMonitor::addReading(std::span<const uint8_t> reply,
                                  std::span<const int32_t> available) {
    if (reply.size() < sizeof(ovlank::BandwidthReplyTotals) || reply.size() % 4 != 0)
        return false;
    // The totals close the reply whatever the number of rules the daemon holds, so a
    // daemon with fewer rules than enabled filters cannot shift them into the counts.
    const size_t rules = (reply.size() - sizeof(ovlank::BandwidthReplyTotals)) / 4;
    if (m_accumulators.size() < available.size())
        m_accumulators.resize(available.size(), 0);
    size_t rule = 0;
    for (size_t position = 0; position < available.size() && rule < rules; ++position) {
        if (available[position] != 1)
            continue;
        addSaturating(m_accumulators[position], valueAt(reply, rule));
        ++rule;
    }
    // The first reading ends the "not measured" state.
    if (m_sentSum == kNotMeasured)
        m_sentSum = 0;
    if (m_receivedSum == kNotMeasured)
        m_receivedSum = 0;
    addSaturating(m_sentSum, valueAt(reply, rules));
    addSaturating(m_receivedSum, valueAt(reply, rules + 1));
    return true;
}

BandwidthMonitor::Second
BandwidthMonitor::secondTick(size_t filterCount, bool hidden, int32_t window,
                             const std::function<void(size_t, int32_t)>& sample) {
    for (size_t position = 0; position < filterCount; ++position)
        sample(position, accumulator(position));
    // Positions past the list (it got shorter) belong to no filter any more.
    std::fill(m_accumulators.begin(), m_accumulators.end(), 0);
    Second second{!hidden, m_sentSum, m_receivedSum};
    // A second without any reading has no value to average in.
    if (!hidden && m_sentSum != kNotMeasured) {
        // The mean of 32-bit values always fits 32 bits.
        m_sentAverage = static_cast<int32_t>(m_sentHistory.append(m_sentSum, window));
        m_receivedAverage = static_cast<int32_t>(m_receivedHistory.append(m_receivedSum, window));
    }
    // Until a reading comes (a period longer than a second, or a link that is down)
    // the sums stay unmeasured: a zero here would be shown and averaged as if counted.
    if (m_sentSum != kNotMeasured)
        m_sentSum = 0;
    if (m_receivedSum != kNotMeasured)
        m_receivedSum = 0;
    return second;
}

std::string BandwidthMonitor::paneText(int which, int32_t value) {
    const char* label = which == 0 ? "UP" : "DOWN";
    char text[64];
    if (value == kNotMeasured)
        std::snprintf(text, sizeof text, " %s    未測定", label);
    else
        std::snprintf(text, sizeof text, " %s%8.1f KB/s", label,
                      static_cast<double>(static_cast<float>(value) / 1024.0f));
    return text;
}

} // namespace tavrin::core
