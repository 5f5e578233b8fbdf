#include "OvlankProtocol.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ovlank {
namespace {

TEST(ControlCodes, NamesAreUniqueAndUnknownCodesHaveNone) {
    const uint32_t codes[] = {START_IP_HOOK,   STOP_IP_HOOK,    ADD_FILTER,  CLEAR_FILTER,
                              GET_PACKET,      CLEAR_BANDWIDTH, SET_PORTS,   SET_LOCALIP,
                              START_FILTERING, STOP_FILTERING,  GET_VERSION, CHANGE_FILTER};
    std::set<std::string> names;
    for (uint32_t code : codes) {
        ASSERT_NE(controlCodeName(code), nullptr) << std::hex << code;
        names.insert(controlCodeName(code));
    }
    EXPECT_EQ(names.size(), 12u);
    EXPECT_STREQ(controlCodeName(ADD_FILTER), "ADD_FILTER");
    EXPECT_EQ(controlCodeName(0), nullptr);
    EXPECT_EQ(controlCodeName(0x432220BC), nullptr); // function 0x82F, just below the range
    EXPECT_EQ(controlCodeName(0x432220F0), nullptr); // function 0x83C, just above it
    // The same function with another access value is another code.
    EXPECT_EQ(controlCodeName(ADD_FILTER & ~(3u << 14)), nullptr);
}

TEST(Records, VariableSizesFollowTheirCounts) {
    EXPECT_EQ(portListRequestSize(0), 6u);
    EXPECT_EQ(portListRequestSize(3), 12u);
    EXPECT_EQ(portListRequestSize(256), 518u);
    EXPECT_EQ(portListRequestSize(kPortListMatchesNothing), 6u);
    EXPECT_EQ(localAddressListSize(0), 4u);
    EXPECT_EQ(localAddressListSize(2), 12u);
    EXPECT_EQ(bandwidthReplySize(0), 8u);
    EXPECT_EQ(bandwidthReplySize(64), 264u);
    EXPECT_TRUE(ntSuccess(STATUS_SUCCESS));
    EXPECT_TRUE(ntSuccess(STATUS_PENDING));
    EXPECT_FALSE(ntSuccess(STATUS_UNSUCCESSFUL));
    EXPECT_FALSE(ntSuccess(STATUS_INVALID_PARAMETER));
    EXPECT_FALSE(ntSuccess(STATUS_INSUFFICIENT_RESOURCES));
}

} // namespace
} // namespace ovlank
