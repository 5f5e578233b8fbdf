#include "PortSpec.h"
#include "RecordingMessages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tavrin {
namespace {

using test::RecordingMessages;

struct ParseCase {
    std::string text;
    uint16_t low;
    uint16_t high;
};

TEST(ParsePortSpec, ReadsEveryFormOfPortText) {
    const std::vector<ParseCase> cases = {
        {"80", 80, 80},
        {"80 (http)", 80, 80},
        {" 80", 80, 80},
        {"\t80", 80, 80},
        {"20-21 (ftp)", 20, 21}, // the high number stops at the blank
        {"20-21", 20, 21},
        {"1023-0", 0, 1023}, // swapped bounds are put in order
        {"21-20", 20, 21},
        {"80-", 0, 80}, // a trailing dash reads as an empty, zero high number
        {"-80", 0, 80},
        {"", 0, 0},
        {"abc", 0, 0},
        {"All", 0, 0},
        {"all", 0, 0},
        {"0", 0, 0},
        {"65535", 65535, 65535},
        {"65536", 0, 0}, // out of range counts as 0
        {"70000-80", 0, 80},
        {"80-70000", 0, 80},
        {"99999999999999999999999", 0, 0}, // no overflow, just out of range
        {"+443", 443, 443},
        {"80abc", 80, 80},
        {"20 - 21", 20, 20}, // the blank comes before the dash
        {"20(x)-21", 20, 20},
        {"20-  21", 20, 21}, // blanks after the dash are skipped by the number
        {"  20-21", 20, 20}, // a leading blank comes before the dash
        {"1-2-3", 1, 2},
        {"ポート", 0, 0},
        {std::string("80\0-90", 6), 80, 80}, // the text ends at a NUL
    };
    for (const ParseCase& c : cases) {
        const PortRange r = ParsePortSpec(c.text);
        EXPECT_EQ(r.hostLow(), c.low) << "text: " << c.text;
        EXPECT_EQ(r.hostHigh(), c.high) << "text: " << c.text;
    }
}

TEST(ParsePortSpec, ResultIsInNetworkOrder) {
    const PortRange r = ParsePortSpec("20-8080");
    uint8_t bytes[4];
    static_assert(sizeof r == sizeof bytes);
    std::memcpy(bytes, &r, sizeof bytes);
    const uint8_t expected[4] = {0x00, 0x14, 0x1F, 0x90};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);
}

TEST(ValidatePortSpec, AcceptsPortsAndRefusesBadTextsWithTheRangeMessage) {
    const std::string rangeMessage = "ポート番号は0から65535までの値を指定してください。";
    struct Case {
        std::string text;
        bool accepted;
        bool message;
    };
    const std::vector<Case> cases = {
        {"65535", true, false},
        {"0", true, false},
        {"80 (http)", true, false},
        {"20-21", true, false},
        {"80-", true, false},
        {"", false, false}, // refused quietly
        {"65536", false, true},
        {"1-65536", false, true},
        {"65536-1", false, true},
        {"-1", true, false}, // reads as the range 0-1
        {"1--1", false, true},
        {"99999999999999999999", false, true},
        {"abc", false, true}, // no number at all
        {"All", false, true},
        {"-", false, true},
        {"(http)", false, true},
        {"80" + std::string(61, ' '), true, false}, // 63 bytes
        {"80" + std::string(62, ' '), false, true}, // 64 bytes
    };
    for (const Case& c : cases) {
        RecordingMessages messages;
        EXPECT_EQ(ValidatePortSpec(c.text, messages), c.accepted) << "text: '" << c.text << "'";
        const std::vector<std::string> expected =
            c.message ? std::vector<std::string>{rangeMessage} : std::vector<std::string>{};
        EXPECT_EQ(messages.texts(), expected) << "text: '" << c.text << "'";
    }
}

TEST(FormatPort, PlainLabelledAndListForms) {
    EXPECT_EQ(FormatPortRange(PortRange::single(80)), "80");
    EXPECT_EQ(FormatPortRange(PortRange::fromHost(20, 21)), "20-21");
    EXPECT_EQ(FormatPortRange(PortRange::fromHost(0, 65535)), "0-65535");
    EXPECT_EQ(FormatPortRange(ParsePortSpec("80-80")), "80");

    EXPECT_EQ(FormatPortLabel(PortRange::single(443)), "443 (https)");
    EXPECT_EQ(FormatPortLabel(PortRange::fromHost(20, 21)), "20-21 (ftp)");
    EXPECT_EQ(FormatPortLabel(PortRange::single(8080)), "8080");
    EXPECT_EQ(FormatPortLabel(PortRange::fromHost(23, 24)), "23-24");

    const std::vector<PortRange> list = {PortRange::fromHost(20, 21), PortRange::single(80)};
    EXPECT_EQ(FormatPortList(list), "20-21,80");
    EXPECT_EQ(FormatPortList(std::vector<PortRange>{}), "");
    EXPECT_EQ(FormatPortList(std::vector<PortRange>{PortRange::single(443)}), "443");
}

TEST(FormatPort, WellKnownEntriesReadBackToTheirOwnLabels) {
    const std::vector<uint16_t> lows = {20, 21,  20,  22,  23,  25,  53,
                                        80, 110, 119, 123, 194, 443, 1863};
    ASSERT_EQ(kWellKnownPorts.size(), lows.size());
    for (size_t i = 0; i < kWellKnownPorts.size(); ++i) {
        RecordingMessages messages;
        EXPECT_TRUE(ValidatePortSpec(kWellKnownPorts[i], messages));
        const PortRange r = ParsePortSpec(kWellKnownPorts[i]);
        EXPECT_EQ(r.hostLow(), lows[i]);
        // Each entry is exactly what the remote list shows once it is added.
        EXPECT_EQ(FormatPortLabel(r), kWellKnownPorts[i]);
    }
}

} // namespace
} // namespace tavrin
