#include "BandwidthMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace tavrin::core {
namespace {

// A CLEAR_BANDWIDTH reply: one count per rule, then sent and received.
std::vector<uint8_t> reply(std::vector<uint32_t> rules, uint32_t sent, uint32_t received) {
    rules.push_back(sent);
    rules.push_back(received);
    std::vector<uint8_t> bytes(rules.size() * 4);
    std::memcpy(bytes.data(), rules.data(), bytes.size());
    return bytes;
}

std::map<size_t, int32_t> second(BandwidthMonitor& monitor, size_t filters, bool hidden = false,
                                 int32_t window = 5) {
    std::map<size_t, int32_t> samples;
    monitor.secondTick(filters, hidden, window, [&](size_t k, int32_t v) { samples[k] = v; });
    return samples;
}

TEST(BandwidthMonitor, PaneTextsShowKilobytesOrNotMeasured) {
    EXPECT_EQ(BandwidthMonitor::paneText(0, -1), " UP    未測定");
    EXPECT_EQ(BandwidthMonitor::paneText(1, -1), " DOWN    未測定");
    EXPECT_EQ(BandwidthMonitor::paneText(0, 1536), " UP     1.5 KB/s");
    EXPECT_EQ(BandwidthMonitor::paneText(1, 0), " DOWN     0.0 KB/s");
    EXPECT_EQ(BandwidthMonitor::paneText(0, 1024 * 123456), " UP123456.0 KB/s");
    EXPECT_EQ(BandwidthMonitor::paneText(0, 2147483647), " UP2097152.0 KB/s");
}

TEST(BandwidthMonitor, ReadingsAddUpPerFilterPositionSkippingDisabledFilters) {
    BandwidthMonitor monitor;
    EXPECT_EQ(monitor.sentSum(), BandwidthMonitor::kNotMeasured);
    const int32_t enabled[] = {1, 0, 1};
    ASSERT_TRUE(monitor.addReading(reply({100, 200}, 10, 20), enabled));
    ASSERT_TRUE(monitor.addReading(reply({1, 2}, 5, 6), enabled));
    EXPECT_EQ(monitor.accumulator(0), 101);
    EXPECT_EQ(monitor.accumulator(1), 0); // the disabled filter does not shift the others
    EXPECT_EQ(monitor.accumulator(2), 202);
    // The first reading ends "not measured" without losing a byte to it.
    EXPECT_EQ(monitor.sentSum(), 15);
    EXPECT_EQ(monitor.receivedSum(), 26);

    const auto samples = second(monitor, 3);
    EXPECT_EQ(samples, (std::map<size_t, int32_t>{{0, 101}, {1, 0}, {2, 202}}));
    EXPECT_EQ(monitor.accumulator(0), 0);
    EXPECT_EQ(monitor.sentSum(), 0);
    EXPECT_EQ(monitor.sentAverage(), 15);
    EXPECT_EQ(monitor.receivedAverage(), 26);
}

TEST(BandwidthMonitor, RepliesThatDoNotFitTheFiltersNeverReachOutsideEitherTable) {
    BandwidthMonitor monitor;
    // Three enabled filters, but the daemon holds one rule (a start that failed
    // part-way): the totals still come from the end of the reply.
    const int32_t three[] = {1, 1, 1};
    ASSERT_TRUE(monitor.addReading(reply({7}, 40, 50), three));
    EXPECT_EQ(monitor.accumulator(0), 7);
    EXPECT_EQ(monitor.accumulator(1), 0);
    EXPECT_EQ(monitor.sentSum(), 40);
    EXPECT_EQ(monitor.receivedSum(), 50);

    // A list grown past 64 filters: the daemon counts 64 rules, and the filters
    // after the 64th enabled one get nothing. A disabled filter in front moves the
    // 64th rule to position 64, which is counted all the same.
    std::vector<uint32_t> rules(64);
    for (uint32_t j = 0; j < 64; ++j)
        rules[j] = j + 1;
    std::vector<int32_t> many(70, 1);
    many[0] = 0;
    second(monitor, 3);
    ASSERT_TRUE(monitor.addReading(reply(rules, 0, 0), many));
    EXPECT_EQ(monitor.accumulator(0), 0);
    EXPECT_EQ(monitor.accumulator(1), 1);
    EXPECT_EQ(monitor.accumulator(64), 64);
    EXPECT_EQ(monitor.accumulator(65), 0);
    auto samples = second(monitor, 70);
    EXPECT_EQ(samples.size(), 70u);
    EXPECT_EQ(samples.at(64), 64);
    EXPECT_EQ(samples.at(69), 0);
    // The list got shorter: what was counted for a position past it goes nowhere.
    ASSERT_TRUE(monitor.addReading(reply(rules, 0, 0), many));
    samples = second(monitor, 3);
    EXPECT_EQ(samples.size(), 3u);
    EXPECT_EQ(monitor.accumulator(64), 0);

    // Malformed replies count nothing.
    EXPECT_FALSE(monitor.addReading(std::vector<uint8_t>(4), three));
    EXPECT_FALSE(monitor.addReading(std::vector<uint8_t>(10), three));
    EXPECT_EQ(monitor.sentSum(), 0);
}

TEST(BandwidthMonitor, SumsSaturateInsteadOfTurningNegative) {
    BandwidthMonitor monitor;
    const int32_t one[] = {1};
    ASSERT_TRUE(monitor.addReading(reply({0xFFFFFFFFu}, 0xFFFFFFFFu, 0x80000000u), one));
    ASSERT_TRUE(monitor.addReading(reply({5}, 5, 5), one));
    EXPECT_EQ(monitor.accumulator(0), 2147483647);
    EXPECT_EQ(monitor.sentSum(), 2147483647);
    EXPECT_EQ(monitor.receivedSum(), 2147483647);
}

TEST(BandwidthMonitor, AveragesFollowTheWindowAndStandStillWhileHidden) {
    BandwidthMonitor monitor;
    const int32_t none[] = {0};
    const uint32_t seconds[] = {10240, 0, 0, 0, 0, 0};
    int tick = 0;
    for (uint32_t value : seconds) {
        ASSERT_TRUE(monitor.addReading(reply({}, value, value / 2), none));
        second(monitor, 1);
        ++tick;
        if (tick == 5) {
            EXPECT_EQ(monitor.sentAverage(), 2048);
            EXPECT_EQ(monitor.receivedAverage(), 1024);
        }
    }
    EXPECT_EQ(monitor.sentAverage(), 0);

    // Hidden: the sums are reset but the histories do not move.
    ASSERT_TRUE(monitor.addReading(reply({}, 5000, 0), none));
    const auto hiddenSecond = monitor.secondTick(0, true, 5, [](size_t, int32_t) {});
    EXPECT_FALSE(hiddenSecond.visible);
    EXPECT_EQ(hiddenSecond.sent, 5000);
    EXPECT_EQ(monitor.sentAverage(), 0);
    EXPECT_EQ(monitor.sentSum(), 0);

    // A window below one keeps just the latest second rather than dividing by zero.
    ASSERT_TRUE(monitor.addReading(reply({}, 300, 0), none));
    second(monitor, 0, false, 0);
    EXPECT_EQ(monitor.sentAverage(), 300);
}

TEST(BandwidthMonitor, SecondsBeforeTheFirstReadingShowNotMeasuredAndAddNoHistory) {
    const int32_t none[] = {0};
    // Read ticks by second: with a period of 2500 ms the first reading falls into the
    // third second, and the seconds before it were never measured, hidden or not.
    struct Case {
        const char* name;
        std::vector<int> readingsPerSecond;
        bool hidden;
    };
    const Case cases[] = {
        {"period 250 ms", {4, 4, 4}, false},
        {"period 2500 ms", {0, 0, 1, 0, 0, 1}, false},
        {"period 2500 ms, hidden at first", {0, 0, 1, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BandwidthMonitor monitor;
        bool measured = false;
        std::vector<int32_t> shown;
        for (size_t s = 0; s < c.readingsPerSecond.size(); ++s) {
            for (int r = 0; r < c.readingsPerSecond[s]; ++r)
                ASSERT_TRUE(monitor.addReading(reply({}, 2048, 1024), none));
            measured = measured || c.readingsPerSecond[s] > 0;
            const bool hidden = c.hidden && s < 2;
            const auto tick = monitor.secondTick(0, hidden, 5, [](size_t, int32_t) {});
            shown.push_back(tick.sent);
            if (!measured) {
                EXPECT_EQ(tick.sent, BandwidthMonitor::kNotMeasured) << s;
                EXPECT_EQ(BandwidthMonitor::paneText(1, tick.received), " DOWN    未測定");
            } else {
                // Once measured, a second without a reading is a measured zero.
                EXPECT_EQ(tick.sent, 2048 * c.readingsPerSecond[s]) << s;
            }
        }
        // The average holds only the measured seconds.
        int64_t sum = 0;
        int64_t count = 0;
        for (int32_t v : shown) {
            if (v != BandwidthMonitor::kNotMeasured) {
                sum += v;
                ++count;
            }
        }
        if (c.hidden)
            continue; // the hidden seconds stand still
        EXPECT_EQ(monitor.sentAverage(), count == 0 ? 0 : sum / count);
    }
}

TEST(BandwidthMonitor, AnInterruptedLinkIsNotMeasuredUntilTheNextReading) {
    BandwidthMonitor monitor;
    const int32_t none[] = {0};
    ASSERT_TRUE(monitor.addReading(reply({}, 3000, 0), none));
    monitor.secondTick(0, false, 5, [](size_t, int32_t) {});
    EXPECT_EQ(monitor.sentAverage(), 3000);
    // Lost after part of a second was read: that part is not shown as a whole second.
    ASSERT_TRUE(monitor.addReading(reply({}, 100, 0), none));
    monitor.interrupt();
    for (int s = 0; s < 3; ++s) {
        const auto down = monitor.secondTick(0, false, 5, [](size_t, int32_t) {});
        EXPECT_EQ(down.sent, BandwidthMonitor::kNotMeasured);
    }
    EXPECT_EQ(monitor.sentAverage(), 3000);
    ASSERT_TRUE(monitor.addReading(reply({}, 1000, 0), none));
    EXPECT_EQ(monitor.secondTick(0, false, 5, [](size_t, int32_t) {}).sent, 1000);
    EXPECT_EQ(monitor.sentAverage(), 2000);

    monitor.clear();
    EXPECT_EQ(monitor.sentSum(), BandwidthMonitor::kNotMeasured);
}

TEST(BandwidthHistory, TheMeanIsExactOverTheWindowAndADayIsTheLongestWindow) {
    // Samples from the whole 32-bit range, the window run well past its size and then
    // shortened: every mean equals the mean of the samples held, summed afresh.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    BandwidthHistory history;
    std::vector<int32_t> all;
    for (int i = 0; i < 1000; ++i) {
        const int32_t window = i < 600 ? 7 : 3;
        all.push_back(any(rng));
        const int64_t mean = history.append(all.back(), window);
        const size_t held = std::min<size_t>(all.size(), static_cast<size_t>(window));
        int64_t sum = 0;
        for (size_t k = all.size() - held; k < all.size(); ++k)
            sum += all[k];
        ASSERT_EQ(history.size(), held) << i;
        ASSERT_EQ(mean, sum / static_cast<int64_t>(held)) << i;
    }

    // The largest window a file can give keeps one day of samples.
    BandwidthHistory day;
    const auto kDay = static_cast<size_t>(kMaxBandwidthWindow);
    auto sample = [](size_t i) { return static_cast<int32_t>((i * 7919) % 2000003); };
    int64_t mean = 0;
    for (size_t i = 0; i < kDay + 5; ++i) {
        mean = day.append(sample(i), INT32_MAX);
        ASSERT_LE(day.size(), kDay);
    }
    EXPECT_EQ(day.size(), kDay);
    int64_t sum = 0;
    for (size_t i = 5; i < kDay + 5; ++i)
        sum += sample(i);
    EXPECT_EQ(mean, sum / static_cast<int64_t>(kDay));
    EXPECT_EQ(*day.begin(), sample(5));
}

} // namespace
} // namespace tavrin::core
