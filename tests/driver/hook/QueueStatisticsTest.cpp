#include "QueueStatistics.h"

#include <gtest/gtest.h>

namespace ovlank {
namespace {

TEST(QueueStatistics, ReadsTheKernelColumnsAndSkipsBrokenLines) {
    const char* text = "  700  12017     5 2    80     3     9      123  1\n"
                       "garbage line\n"
                       "  701 2922569369     0 2    80     0     0        0  1\n"
                       "  702 1 2 3\n"
                       "  703 1 2 3 4 5 6 99999999999 1\n"
                       "  704 1 2 2 80 0 7x 0 1\n";
    const auto stats = parseQueueStatistics(text);
    ASSERT_EQ(stats.size(), 2u);
    EXPECT_EQ(stats[0].queue, 700u);
    EXPECT_EQ(stats[0].peerPortId, 12017u);
    EXPECT_EQ(stats[0].waiting, 5u);
    EXPECT_EQ(stats[0].kernelDropped, 3u);
    EXPECT_EQ(stats[0].userDropped, 9u);
    EXPECT_EQ(stats[0].lastPacketId, 123u);
    EXPECT_EQ(stats[1].queue, 701u);
    EXPECT_EQ(stats[1].peerPortId, 2922569369u);
    EXPECT_TRUE(parseQueueStatistics("").empty());
    EXPECT_TRUE(parseQueueStatistics("\n\n   \n").empty());
}

} // namespace
} // namespace ovlank
