#include "PacketFilter.h"
#include "PortSpec.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>

namespace tavrin {
namespace {

using RuleBytes = std::array<uint8_t, sizeof(ovlank::DriverRule)>;

uint32_t ip(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// Converts into a rule whose every byte was 0xAA, so untouched bytes show.
RuleBytes ruleBytes(const Filter& filter) {
    ovlank::DriverRule rule;
    std::memset(&rule, 0xAA, sizeof rule);
    filter.ToDriverRule(rule);
    RuleBytes bytes;
    std::memcpy(bytes.data(), &rule, sizeof rule);
    return bytes;
}

void put(RuleBytes& bytes, size_t offset, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values)
        bytes.at(offset++) = v;
}

RuleBytes untouched() {
    RuleBytes bytes;
    bytes.fill(0xAA);
    return bytes;
}

TEST(PacketFilter, NewFilterHasEveryDefault) {
    const PacketFilter f;
    EXPECT_EQ(f.kind, 1);
    EXPECT_EQ(f.available, 1);
    EXPECT_TRUE(f.bandwidthSamples.empty());
    EXPECT_EQ(f.currentBandwidth, 0);
    EXPECT_EQ(f.averageBandwidth, 0u);
    EXPECT_EQ(f.id, 0);
    EXPECT_EQ(f.appliedDynamicFilterId, 0);
    EXPECT_EQ(f.protocol, 6);
    EXPECT_EQ(f.drop, 0);
    EXPECT_EQ(f.dropSynOnly, 1);
    EXPECT_EQ(f.doBand, 0);
    EXPECT_EQ(f.bandwidth, 30);
    EXPECT_EQ(f.minimumPacketSize, 100);
    EXPECT_EQ(f.filterName, "NewFilter");
    EXPECT_EQ(f.comment, "");
    EXPECT_EQ(f.direction, kDirectionUp);
    EXPECT_EQ(f.appName, "");
    EXPECT_EQ(f.adapterIndex, -1);
    EXPECT_EQ(f.adapterName, "");
    EXPECT_EQ(f.myIp, ip("0.0.0.0"));
    EXPECT_EQ(f.myIpMask, ip("255.255.255.255"));
    EXPECT_EQ(f.otherIp, ip("0.0.0.0"));
    EXPECT_EQ(f.otherIpMask, ip("0.0.0.0"));
    EXPECT_EQ(f.isMyIp, 1);
    EXPECT_EQ(f.isMyAllPort, 1);
    EXPECT_EQ(f.isOtherAllPort, 1);
    EXPECT_TRUE(f.myPorts.empty());
    EXPECT_TRUE(f.otherPorts.empty());
    EXPECT_EQ(f.processPortCount, 0);
    EXPECT_EQ(f.GetDescription(), "<TCP 0.0.0.0:全てのポート → 全てのIP:全てのポート>");
}

TEST(PacketFilterRule, UpPutsTheLocalEndInTheSourceFields) {
    PacketFilter f;
    f.protocol = 17;
    f.myIp = ip("192.168.0.2");
    f.otherIp = ip("10.0.0.1");
    f.otherIpMask = ip("255.0.0.0");
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::single(80), PortRange::fromHost(8000, 8080)};
    f.isOtherAllPort = 0;
    f.otherPorts = {PortRange::single(443)};
    f.drop = 1;
    f.dropSynOnly = 0;
    f.doBand = 1;
    f.bandwidth = 50;
    f.minimumPacketSize = 200;
    f.appName = "app.exe"; // not part of the rule

    RuleBytes expected = untouched(); // reserved areas and unused ranges stay as they were
    put(expected, 0, {17, 0});
    put(expected, 4, {192, 168, 0, 2});
    put(expected, 8, {10, 0, 0, 1});
    put(expected, 12, {255, 255, 255, 255});
    put(expected, 16, {255, 0, 0, 0});
    put(expected, 20, {2, 0, 0, 0});
    put(expected, 24, {1, 0, 0, 0});
    put(expected, 28, {0x00, 0x50, 0x00, 0x50, 0x1F, 0x40, 0x1F, 0x90});
    put(expected, 92, {0x01, 0xBB, 0x01, 0xBB});
    put(expected, 156, {1, 0});
    put(expected, 160, {50, 0, 0, 0});
    put(expected, 164, {200, 0, 0, 0});
    EXPECT_EQ(ruleBytes(f), expected);
}

TEST(PacketFilterRule, DownPutsTheLocalEndInTheDestinationFields) {
    PacketFilter f;
    f.direction = kDirectionDown;
    f.myIp = ip("192.168.0.2");
    f.otherIp = ip("172.16.5.9");
    f.otherIpMask = ip("255.255.0.0");
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::single(80)};
    f.isOtherAllPort = 1;
    f.otherPorts = {PortRange::single(1234)}; // ignored: all remote ports

    RuleBytes expected = untouched();
    put(expected, 0, {6, 0});
    put(expected, 4, {172, 16, 5, 9});
    put(expected, 8, {192, 168, 0, 2});
    put(expected, 12, {255, 255, 0, 0});
    put(expected, 16, {255, 255, 255, 255});
    put(expected, 20, {0, 0, 0, 0});
    put(expected, 24, {1, 0, 0, 0});
    put(expected, 92, {0x00, 0x50, 0x00, 0x50});
    put(expected, 156, {0, 1});
    put(expected, 160, {0, 0, 0, 0});
    put(expected, 164, {100, 0, 0, 0});
    EXPECT_EQ(ruleBytes(f), expected);
}

TEST(PacketFilterRule, ActionFieldsAndOddValues) {
    PacketFilter f;
    f.doBand = 0;
    f.bandwidth = 50;
    ovlank::DriverRule rule{};
    f.ToDriverRule(rule);
    EXPECT_EQ(rule.limit, 0u);

    f.doBand = 1;
    f.ToDriverRule(rule);
    EXPECT_EQ(rule.limit, 50u);

    // Flags are stored as 0 or 1, whatever nonzero value the record held.
    f.drop = 256;
    f.dropSynOnly = 512;
    f.ToDriverRule(rule);
    EXPECT_EQ(rule.block, 1);
    EXPECT_EQ(rule.connectionRequestsOnly, 1);

    // Negative values from a hand-edited file mean no limit and no minimum.
    f.bandwidth = -5;
    f.minimumPacketSize = -1;
    f.ToDriverRule(rule);
    EXPECT_EQ(rule.limit, 0u);
    EXPECT_EQ(rule.minimumSize, 0u);
}

TEST(PacketFilterRule, OtherAndInvalidDirectionsConvertLikeDown) {
    PacketFilter f;
    f.myIp = ip("192.168.0.2");
    f.otherIp = ip("10.1.2.3");
    f.otherIpMask = ip("255.255.255.255");
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::single(25)};
    f.direction = kDirectionDown;
    const RuleBytes down = ruleBytes(f);
    f.direction = kDirectionOther;
    EXPECT_EQ(ruleBytes(f), down);
    EXPECT_EQ(f.GetDescription(), "<TCP 192.168.0.2:25 ← 10.1.2.3:全てのポート>");
    f.direction = -1;
    EXPECT_EQ(ruleBytes(f), down);
}

TEST(PacketFilterRule, ProcessPortsAreComparedWithTheLocalEndsPort) {
    PacketFilter f;
    f.direction = kDirectionUp;
    EXPECT_EQ(f.GetProcessPortSelector(), 0); // the source port
    f.direction = kDirectionDown;
    EXPECT_EQ(f.GetProcessPortSelector(), 1); // the destination port
    f.direction = kDirectionOther;
    EXPECT_EQ(f.GetProcessPortSelector(), 1); // converted like DOWN
    f.direction = -1;
    EXPECT_EQ(f.GetProcessPortSelector(), 1);
}

TEST(PacketFilterRule, LongPortListsAreCutToWhatARuleHolds) {
    PacketFilter f;
    f.isMyAllPort = 0;
    f.isOtherAllPort = 0;
    for (uint16_t p = 1; p <= 20; ++p) {
        f.myPorts.push_back(PortRange::single(p));
        f.otherPorts.push_back(PortRange::single(static_cast<uint16_t>(1000 + p)));
    }
    ovlank::DriverRule rule{};
    f.ToDriverRule(rule);
    EXPECT_EQ(rule.sourceRangeCount, 16u);
    EXPECT_EQ(rule.destinationRangeCount, 16u);
    EXPECT_EQ(ntohs(rule.sourceRanges[15].low), 16);
    EXPECT_EQ(ntohs(rule.destinationRanges[15].high), 1016);
    EXPECT_EQ(rule.block, 0); // the fields after the tables are intact
    EXPECT_EQ(rule.minimumSize, 100u);
}

TEST(PacketFilterDescription, ExamplesOfTheFilterList) {
    PacketFilter f;
    f.myIp = ip("192.168.0.2");
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::single(80)};
    EXPECT_EQ(f.GetDescription(), "<TCP 192.168.0.2:80 → 全てのIP:全てのポート>");

    // A local mask of 0 means every local address, whatever the address holds.
    f.myIpMask = 0;
    EXPECT_EQ(f.GetDescription(), "<TCP 全てのIP:80 → 全てのIP:全てのポート>");

    f.myPorts = {PortRange::fromHost(20, 21), PortRange::single(80)};
    f.appName = "app.exe";
    EXPECT_EQ(f.GetDescription(), "<TCP 全てのIP:20-21,80かつapp.exe → 全てのIP:全てのポート>");

    f.isMyAllPort = 1;
    EXPECT_EQ(f.GetDescription(), "<TCP 全てのIP:app.exe → 全てのIP:全てのポート>");

    f.protocol = 17;
    f.direction = kDirectionDown;
    f.otherIp = ip("8.8.8.8");
    f.otherIpMask = ip("255.255.255.255");
    f.isOtherAllPort = 0;
    f.otherPorts = {PortRange::single(53), PortRange::fromHost(5000, 5001)};
    f.appName = "ブラウザ.exe";
    EXPECT_EQ(f.GetDescription(), "<UDP 全てのIP:ブラウザ.exe ← 8.8.8.8:53,5000-5001>");

    f.protocol = 1;
    EXPECT_EQ(f.GetDescription().substr(0, 6), "<ICMP ");
    f.protocol = 47;
    EXPECT_EQ(f.GetDescription().substr(0, 11), "<その他 ");
}

TEST(PacketFilter, CloneCopiesEveryFieldIndependently) {
    PacketFilter f;
    f.id = 12;
    f.appliedDynamicFilterId = 3;
    f.available = 0;
    f.filterName = "ウェブ";
    f.comment = "コメント";
    f.appName = "a.exe";
    f.adapterName = "wg0";
    f.adapterIndex = 7;
    f.isMyAllPort = 0;
    f.myPorts = {PortRange::single(80)};
    f.AddBandwidthSample(1000, 5);
    f.AddBandwidthSample(3000, 5);
    const uint16_t ports[] = {80, 443};
    f.SetProcessPorts(ports, 2);

    const std::unique_ptr<Filter> copy = f.Clone();
    auto* packet = dynamic_cast<PacketFilter*>(copy.get());
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(*packet, f);
    EXPECT_EQ(packet->bandwidthSamples, (std::deque<int32_t>{1000, 3000}));
    EXPECT_EQ(packet->averageBandwidth, 2000u);
    EXPECT_EQ(packet->id, 12);
    EXPECT_EQ(packet->appliedDynamicFilterId, 3);
    EXPECT_EQ(packet->adapterName, "wg0");
    EXPECT_EQ(packet->GetProcessPortText(), "80");

    packet->myPorts.push_back(PortRange::single(8080));
    packet->bandwidthSamples.clear();
    packet->filterName = "別名";
    EXPECT_EQ(f.myPorts.size(), 1u);
    EXPECT_EQ(f.bandwidthSamples.size(), 2u);
    EXPECT_EQ(f.filterName, "ウェブ");
    EXPECT_FALSE(*packet == f);
}

TEST(FilterBandwidth, SamplesKeepAWindowAndTheirMean) {
    PacketFilter f;
    f.AddBandwidthSample(100, 2);
    f.AddBandwidthSample(200, 2);
    f.AddBandwidthSample(301, 2);
    EXPECT_EQ(f.bandwidthSamples, (std::deque<int32_t>{200, 301}));
    EXPECT_EQ(f.averageBandwidth, 250u); // the remainder is dropped
    EXPECT_EQ(f.currentBandwidth, 301);

    // A shorter window drops the older samples at once.
    f.AddBandwidthSample(7, 1);
    EXPECT_EQ(f.bandwidthSamples, (std::deque<int32_t>{7}));
    EXPECT_EQ(f.averageBandwidth, 7u);

    // A window below 1 keeps the latest sample only; nothing divides by zero.
    f.AddBandwidthSample(500, 0);
    EXPECT_EQ(f.bandwidthSamples, (std::deque<int32_t>{500}));
    EXPECT_EQ(f.averageBandwidth, 500u);
    f.AddBandwidthSample(600, -3);
    EXPECT_EQ(f.averageBandwidth, 600u);
    EXPECT_EQ(f.currentBandwidth, 600);

    // Large samples do not overflow the sum.
    PacketFilter big;
    for (int i = 0; i < 4; ++i)
        big.AddBandwidthSample(INT32_MAX, 4);
    EXPECT_EQ(big.averageBandwidth, static_cast<uint32_t>(INT32_MAX));

    // A negative sample cannot turn the mean into a huge number.
    PacketFilter odd;
    odd.AddBandwidthSample(-100, 3);
    EXPECT_EQ(odd.averageBandwidth, 0u);
    EXPECT_EQ(odd.currentBandwidth, -100);
}

TEST(PacketFilterProcessPorts, TextShowsThePortsTheFilterMatches) {
    PacketFilter f;
    EXPECT_EQ(f.GetProcessPortText(), "None");

    const uint16_t ports[] = {80, 443, 1500, 8080};
    f.SetProcessPorts(ports, 4);
    EXPECT_EQ(f.processPortCount, 4);
    EXPECT_EQ(f.GetProcessPortText(), "80,443,1500,8080");

    f.isMyAllPort = 0;
    f.myPorts = {PortRange::fromHost(400, 2000), PortRange::single(8080)};
    EXPECT_EQ(f.GetProcessPortText(), "443,1500,8080");

    f.myPorts = {PortRange::single(22)};
    EXPECT_EQ(f.GetProcessPortText(), "None");

    // No port found: the count says so and the old ports are kept, unshown.
    f.SetProcessPorts({}, kNoProcessPorts);
    EXPECT_EQ(f.processPortCount, 0xFFFF);
    EXPECT_EQ(f.processPorts[0], 80);
    f.isMyAllPort = 1;
    EXPECT_EQ(f.GetProcessPortText(), "None");

    f.SetProcessPorts({}, 0);
    EXPECT_EQ(f.GetProcessPortText(), "None");
}

TEST(PacketFilterProcessPorts, CountsPastThePortsOrTheTableAreCut) {
    PacketFilter f;
    const uint16_t two[] = {1000, 2000};
    f.SetProcessPorts(two, 9); // more than were given
    EXPECT_EQ(f.processPortCount, 2);
    EXPECT_EQ(f.GetProcessPortText(), "1000,2000");

    std::vector<uint16_t> many(300);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<uint16_t>(10000 + i);
    f.SetProcessPorts(many, 300);
    EXPECT_EQ(f.processPortCount, 256);
    EXPECT_EQ(f.processPorts[255], 10255);
}

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

TEST(FilterText, NameAndCommentHoldWhatTheWindowsVersionHeld) {
    // Limits count 1 for ASCII and half-width katakana and 2 for other characters,
    // as the Windows version counted its bytes; nothing is cut inside a character.
    struct Case {
        const char* what;
        std::string given;
        std::string nameKept;
        std::string commentKept;
    };
    const Case cases[] = {
        {"ASCII at and past the limits", std::string(200, 'c'), std::string(100, 'c'),
         std::string(127, 'c')},
        {"50 kanji fill a name", repeated("漢", 50), repeated("漢", 50), repeated("漢", 50)},
        {"kanji past the limits", repeated("漢", 70), repeated("漢", 50), repeated("漢", 63)},
        {"127 half-width katakana fill a comment", repeated("ｶ", 127), repeated("ｶ", 100),
         repeated("ｶ", 127)},
        {"mixed: a kanji needing the last column alone goes", "ｱ" + repeated("漢", 70),
         "ｱ" + repeated("漢", 49), "ｱ" + repeated("漢", 63)},
        {"a four-byte character counts 2", std::string(98, 'x') + "😀😀", std::string(98, 'x') + "😀",
         std::string(98, 'x') + "😀😀"},
        {"a NUL ends the text", std::string("ab\0cd", 5), "ab", "ab"},
        {"stray bytes count 2 each", std::string(200, '\x80'), std::string(50, '\x80'),
         std::string(63, '\x80')},
    };
    for (const Case& c : cases) {
        PacketFilter f;
        f.filterName = c.given;
        f.comment = c.given;
        EXPECT_EQ(f.filterName.str(), c.nameKept) << c.what;
        EXPECT_EQ(f.comment.str(), c.commentKept) << c.what;
    }
}

TEST(FilterText, AssigningSaysWhetherTheTextWasCut) {
    BoundedText<4> text;
    EXPECT_TRUE(text.assign("漢字"));
    EXPECT_FALSE(text.assign("漢字a"));
    EXPECT_EQ(text, "漢字");
    EXPECT_FALSE(text.assign(std::string_view("a\0b", 3)));
    EXPECT_EQ(text, "a");
}

} // namespace
} // namespace tavrin
