#include "DynamicFilter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace tavrin {
namespace {

PacketFilter packetFilter(int32_t id, const char* name) {
    PacketFilter f;
    f.id = id;
    f.filterName = name;
    return f;
}

TEST(DynamicFilter, NewFilterHasEveryDefaultAndNoCondition) {
    const DynamicFilter d;
    EXPECT_EQ(d.available, 1);
    EXPECT_EQ(d.id, 0);
    EXPECT_EQ(d.filterName, "NewFilter");
    EXPECT_EQ(d.comment, "");
    EXPECT_EQ(d.drop, 0);
    EXPECT_EQ(d.dropSynOnly, 1);
    EXPECT_EQ(d.doBand, 0);
    EXPECT_EQ(d.bandwidth, 30);
    EXPECT_EQ(d.minimumPacketSize, 100);
    EXPECT_EQ(d.runningProcessName, "");
    EXPECT_EQ(d.connectingProcessName, "");
    EXPECT_EQ(d.totalUpLow, 0);
    EXPECT_EQ(d.totalUpHigh, 0);
    EXPECT_EQ(d.totalDownLow, 0);
    EXPECT_EQ(d.totalDownHigh, 0);
    EXPECT_EQ(d.filterBandwidthLow, 0);
    EXPECT_EQ(d.filterBandwidthHigh, 0);
    EXPECT_EQ(d.triggerFilterId, 0);
    EXPECT_TRUE(d.targetFilterIds.empty());
    EXPECT_EQ(d.GetConditionText(std::vector<PacketFilter>{}), "なし");
    EXPECT_EQ(d.GetDescription(), "");
}

TEST(DynamicFilterCondition, PiecesJoinInTheirOrder) {
    const std::vector<PacketFilter> filters = {packetFilter(4, "Web"), packetFilter(9, "動画")};
    DynamicFilter d;
    d.runningProcessName = "a.exe";
    d.totalUpLow = 10;
    d.totalUpHigh = 20;
    EXPECT_EQ(d.GetConditionText(filters), "a.exeが起動中 かつ TOTAL UP帯域が10KB/s以上20KB/s以下");

    d.connectingProcessName = "b.exe";
    d.totalDownHigh = 300;
    d.triggerFilterId = 9;
    d.filterBandwidthLow = 5;
    EXPECT_EQ(d.GetConditionText(filters),
              "a.exeが起動中 かつ b.exeのコネクションが存在 かつ TOTAL UP帯域が10KB/s以上20KB/s以下"
              " かつ TOTAL DOWN帯域が300KB/s以下 かつ 動画の帯域が5KB/s以上");

    DynamicFilter single;
    single.totalDownLow = 64;
    EXPECT_EQ(single.GetConditionText(filters), "TOTAL DOWN帯域が64KB/s以上");
    single.totalDownLow = 0;
    single.triggerFilterId = 4;
    single.filterBandwidthHigh = 2;
    EXPECT_EQ(single.GetConditionText(filters), "Webの帯域が2KB/s以下");
    // A trigger without a band is no condition.
    single.filterBandwidthHigh = 0;
    EXPECT_EQ(single.GetConditionText(filters), "なし");
}

TEST(DynamicFilterCondition, MissingTriggerFilterLeavesItsPieceOut) {
    std::vector<PacketFilter> filters = {packetFilter(4, "Web")};
    DynamicFilter d;
    d.triggerFilterId = 7; // deleted
    d.filterBandwidthLow = 10;
    EXPECT_EQ(d.GetConditionText(filters), "なし");
    d.connectingProcessName = "b.exe";
    EXPECT_EQ(d.GetConditionText(filters), "b.exeのコネクションが存在");

    // ID 0 names no filter, even when a filter still waits for its ID.
    filters.push_back(packetFilter(0, "Unnumbered"));
    d.triggerFilterId = 0;
    EXPECT_EQ(d.GetConditionText(filters), "b.exeのコネクションが存在");
}

TEST(DynamicFilterCondition, FindsTheTriggerInListsOfEveryShape) {
    DynamicFilter d;
    d.triggerFilterId = 2;
    d.filterBandwidthLow = 1;
    const std::string expected = "Second の帯域が1KB/s以上";

    std::vector<std::unique_ptr<PacketFilter>> owned;
    owned.push_back(std::make_unique<PacketFilter>(packetFilter(1, "First")));
    owned.push_back(nullptr);
    owned.push_back(std::make_unique<PacketFilter>(packetFilter(2, "Second ")));
    EXPECT_EQ(d.GetConditionText(owned), expected);

    std::vector<std::unique_ptr<Filter>> mixed;
    auto other = std::make_unique<DynamicFilter>();
    other->id = 2; // a dynamic filter with the ID is not the trigger
    mixed.push_back(std::move(other));
    mixed.push_back(std::make_unique<PacketFilter>(packetFilter(2, "Second ")));
    EXPECT_EQ(d.GetConditionText(mixed), expected);

    const PacketFilter lone = packetFilter(2, "Second ");
    const std::vector<const PacketFilter*> pointers = {&lone};
    EXPECT_EQ(d.GetConditionText(pointers), expected);

    EXPECT_EQ(d.GetConditionText(DynamicFilter::PacketFilterLookup{}), "なし");
}

TEST(DynamicFilter, CannotBecomeADriverRule) {
    DynamicFilter d;
    d.drop = 1;
    ovlank::DriverRule rule;
    std::memset(&rule, 0x5C, sizeof rule);
    try {
        d.ToDriverRule(rule);
        ADD_FAILURE() << "no exception";
    } catch (const FilterConversionError& e) {
        EXPECT_STREQ(e.what(), "このフィルタはTrellinへ変換できません。");
    }
    std::array<uint8_t, sizeof rule> bytes;
    std::memcpy(bytes.data(), &rule, sizeof rule);
    for (uint8_t b : bytes)
        ASSERT_EQ(b, 0x5C);

    // Through the base class as well.
    const Filter& base = d;
    EXPECT_THROW(base.ToDriverRule(rule), std::runtime_error);
}

TEST(DynamicFilter, CloneIsAnIndependentCopy) {
    DynamicFilter d;
    d.id = 5;
    d.filterName = "夜間";
    d.drop = 1;
    d.runningProcessName = "backup.exe";
    d.totalUpHigh = 100;
    d.targetFilterIds = {1, 2, 3};
    d.AddBandwidthSample(10, 3);

    const std::unique_ptr<Filter> copy = d.Clone();
    auto* dynamic = dynamic_cast<DynamicFilter*>(copy.get());
    ASSERT_NE(dynamic, nullptr);
    EXPECT_EQ(*dynamic, d);
    dynamic->targetFilterIds.push_back(4);
    dynamic->targetFilterIds[0] = 9;
    dynamic->runningProcessName = "other.exe";
    EXPECT_EQ(d.targetFilterIds, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(d.runningProcessName, "backup.exe");
    EXPECT_EQ(dynamic->id, 5);
    EXPECT_EQ(dynamic->bandwidthSamples, (std::deque<int32_t>{10}));
}

} // namespace
} // namespace tavrin
