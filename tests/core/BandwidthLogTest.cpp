#include "BandwidthLog.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrin::core {
namespace {

BandwidthLogSample at(int64_t time, int32_t sent = 0,
                      std::vector<std::pair<int32_t, int32_t>> filters = {}) {
    BandwidthLogSample s;
    s.time = time;
    s.sent = sent;
    s.received = sent * 2;
    s.filters = std::move(filters);
    return s;
}

std::vector<int64_t> times(const BandwidthLog& log) {
    std::vector<int64_t> result;
    for (const auto& s : log.samples())
        result.push_back(s.time);
    return result;
}

constexpr int64_t kSecond = 1000;

TEST(BandwidthLog, KeepsTheLastTenMinutesOldestFirst) {
    BandwidthLog log;
    EXPECT_TRUE(log.empty());
    for (int64_t t = 1000; t < 1000 + 700; ++t)
        log.record(at(t * kSecond, static_cast<int32_t>(t)));
    EXPECT_EQ(log.samples().size(), 600u);
    EXPECT_EQ(log.samples().front().time, 1100 * kSecond);
    EXPECT_EQ(log.samples().back().time, 1699 * kSecond);
    EXPECT_EQ(log.samples().back().received, 2 * 1699);
    EXPECT_EQ(log.recordedCount(), 700u);

    // A gap (the session stopped for a while) ages the older samples out by time.
    log.record(at((1699 + 590) * kSecond));
    EXPECT_EQ(times(log).front(), 1690 * kSecond);
    log.record(at((1699 + 600) * kSecond));
    EXPECT_EQ(times(log), (std::vector<int64_t>{(1699 + 590) * kSecond, (1699 + 600) * kSecond}));
}

TEST(BandwidthLog, TicksCloserThanASecondAreAllKeptWithinTheBound) {
    BandwidthLog log;
    for (int64_t t : {0, 950, 1900, 1900})
        log.record(at(t));
    EXPECT_EQ(times(log), (std::vector<int64_t>{0, 950, 1900, 1900}));
    for (int64_t t = 2000; t < 2000 + 5000; ++t)
        log.record(at(t));
    EXPECT_EQ(log.samples().size(), BandwidthLog::kMaxSamples);
    EXPECT_EQ(log.samples().back().time, 6999);
}

TEST(BandwidthLog, AClockSetBackDropsTheSamplesAfterItsTime) {
    BandwidthLog log;
    for (int64_t t : {10, 11, 12, 13})
        log.record(at(t * kSecond));
    log.record(at(12 * kSecond, 5));
    EXPECT_EQ(times(log),
              (std::vector<int64_t>{10 * kSecond, 11 * kSecond, 12 * kSecond, 12 * kSecond}));
    EXPECT_EQ(log.samples().back().sent, 5);
    log.record(at(3 * kSecond));
    EXPECT_EQ(times(log), (std::vector<int64_t>{3 * kSecond}));
}

TEST(BandwidthLog, FilterBytesAreFoundByIdAndMissingOnesSaySo) {
    const BandwidthLogSample s = at(1, 0, {{3, 300}, {7, 0}});
    EXPECT_EQ(s.filterBytes(3), 300);
    EXPECT_EQ(s.filterBytes(7), 0);
    EXPECT_EQ(s.filterBytes(4), std::nullopt);
}

} // namespace
} // namespace tavrin::core
