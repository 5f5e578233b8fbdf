#include "IniLine.h"
#include "CommonSettingsIo.h"
#include "PlainText.h"
#include "ProfileDocument.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace tavrin::settings;
using tavrin::dottedAddress;

TEST(IniLine, CutsKeyAndItemsKeepingEmptyPositions) {
    IniLine line = IniLine::parse("LCFILTER_COLUMN_SIZE=10,,30,");
    EXPECT_EQ(line.key, "LCFILTER_COLUMN_SIZE");
    EXPECT_EQ(line.items, (std::vector<std::string>{"10", "", "30", ""}));
    ASSERT_NE(line.firstValue(), nullptr);
    EXPECT_EQ(*line.firstValue(), "10");

    // A value may hold "=": the key ends at the first one.
    line = IniLine::parse("COMMENT=x=y,z");
    EXPECT_EQ(line.key, "COMMENT");
    EXPECT_EQ(line.items, (std::vector<std::string>{"x=y", "z"}));

    line = IniLine::parse("FILTER_NAME=,,a,b");
    EXPECT_EQ(*line.firstValue(), "a");
    EXPECT_EQ(IniLine::parse("KEY=").firstValue(), nullptr);
    EXPECT_EQ(IniLine::parse("KEY=,,").firstValue(), nullptr);
    // Blank items are empty too: a name of blanks would be written back as an empty
    // value, which reads as the default name.
    line = IniLine::parse("FILTER_NAME=, ,\tx");
    ASSERT_NE(line.firstValue(), nullptr);
    EXPECT_EQ(*line.firstValue(), "\tx");
    EXPECT_EQ(IniLine::parse("KEY= , \t").firstValue(), nullptr);
    EXPECT_TRUE(IniLine::parse("NO KEY HERE").key.empty());
    EXPECT_TRUE(IniLine::parse("NO KEY HERE").items.empty());
}

TEST(IniLine, ConvertsItemsAsTheFileMeansThem) {
    EXPECT_TRUE(iniBool("TRUE"));
    EXPECT_FALSE(iniBool("true"));
    EXPECT_FALSE(iniBool("TRUE "));
    EXPECT_FALSE(iniBool("1"));

    EXPECT_EQ(iniInt("250"), 250);
    EXPECT_EQ(iniInt("  -12abc"), -12);
    EXPECT_EQ(iniInt("+7"), 7);
    EXPECT_EQ(iniInt("abc"), 0);
    EXPECT_EQ(iniInt(""), 0);
    EXPECT_EQ(iniInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(iniInt("-99999999999999999999"), INT32_MIN);

    EXPECT_EQ(iniAddress("192.168.0.2"), htonl(0xC0A80002));
    EXPECT_EQ(iniAddress("0.0.0.0"), 0u);
    EXPECT_EQ(iniAddress("255.255.255.0"), htonl(0xFFFFFF00));
    EXPECT_EQ(iniAddress("no address"), 0xFFFFFFFFu);
    EXPECT_EQ(iniAddress("1.2.3.400"), 0xFFFFFFFFu);
    EXPECT_EQ(dottedAddress(htonl(0xC0A80002)), "192.168.0.2");

    EXPECT_STREQ(iniBoolText(1), "TRUE");
    EXPECT_STREQ(iniBoolText(0), "FALSE");
    EXPECT_STREQ(iniBoolText(2), "");
    const int32_t list[] = {1, -2, 30};
    EXPECT_EQ(iniIntList(list, 3), "1,-2,30");
    EXPECT_EQ(iniIntList(list, 0), "");
}

namespace {

CommonSettings readCommon(const std::vector<std::string>& lines) {
    CommonSettings s;
    for (const std::string& line : lines)
        applyCommonLine(s, IniLine::parse(line));
    return s;
}

} // namespace

TEST(CommonSettingsIo, ReadsEveryOptionWithItsItemRules) {
    const CommonSettings defaults;
    EXPECT_EQ(readCommon({}), defaults);
    EXPECT_EQ(defaults.window, (WindowRect{0, 0, 800, 500}));
    EXPECT_EQ(defaults.columnOrders[0][15], 15);

    CommonSettings s = readCommon({
        "INI_FILE_VERSION=999",
        "PORT_PROCESS_MAPPING=FALSE",
        "AUTO_SAVE=yes",
        "STARTUP_MINIMIZE=TRUE",
        "STARTUP_ON=TRUE",
        "NOICON=TRUE",
        "SYSTEM_CHECK=TRUE",
        "SHOW_ACTIVE_CONNECTION_ONLY=TRUE",
        "SHOW_LISTENING=TRUE",
        "MAX_PACKET_CAPTURE_NUM=500",
        "TIME_TO_CALC_AVERAGE_BANDWIDTH=,9",
        "DO_DYNAMIC_FILTERING=FALSE",
        "BANDWIDTH_CONTROL_TIME=0",
        "LCFILTER_COLUMN_SIZE=10,,30",
        "LCUDPPACKET_COLUMN_ORDER=9,8,7,6,5,4,3,2,1,0,99,98",
        "WINDOW_SIZE=1,2,3,4",
        "CONFIRM_CLOSE=TRUE",
        "CLOSE_BUTTON_ACTION=1",
        "NOT_SHOW_MESSAGE=0,5,7",
        "UNKNOWN_KEY=1",
    });
    EXPECT_EQ(s.portProcessMapping, 0);
    EXPECT_EQ(s.autoSave, 0); // only "TRUE" is true
    EXPECT_EQ(s.startupMinimize, 1);
    EXPECT_EQ(s.startupOn, 1);
    EXPECT_EQ(s.noIcon, 1);
    EXPECT_EQ(s.systemCheck, 1);
    EXPECT_EQ(s.showActiveConnectionOnly, 1);
    EXPECT_EQ(s.showListening, 1);
    EXPECT_EQ(s.maxPacketCaptureNum, 500);
    EXPECT_EQ(s.timeToCalcAverageBandwidth, 9);
    EXPECT_EQ(s.doDynamicFiltering, 0);
    EXPECT_EQ(s.bandwidthControlTime, 250);
    EXPECT_EQ(s.columnSizes[0][0], 10);
    EXPECT_EQ(s.columnSizes[0][1], 59);
    EXPECT_EQ(s.columnSizes[0][2], 30);
    EXPECT_EQ(s.columnSizes[0][3], 80);
    EXPECT_EQ(s.columnOrders[4][0], 9);
    EXPECT_EQ(s.columnOrders[4][9], 0);
    EXPECT_EQ(s.columnOrders[4][10], 0); // past the list's ten columns: ignored
    EXPECT_EQ(s.window, (WindowRect{2, 1, 4, 3}));
    EXPECT_EQ(s.confirmClose, 1);
    EXPECT_EQ(s.closeButtonAction, 1);
    EXPECT_EQ(s.messageFlags[0], 0);
    EXPECT_EQ(s.messageFlags[1], 1);

    EXPECT_EQ(readCommon({"BANDWIDTH_CONTROL_TIME=-5"}).bandwidthControlTime, 250);
    EXPECT_EQ(readCommon({"BANDWIDTH_CONTROL_TIME=1"}).bandwidthControlTime, 1);
    // A zero item leaves a flag that an earlier line set.
    EXPECT_EQ(readCommon({"NOT_SHOW_MESSAGE=1,1", "NOT_SHOW_MESSAGE=0,0"}).messageFlags[0], 1);
    // All items empty: the default stays.
    EXPECT_EQ(readCommon({"MAX_PACKET_CAPTURE_NUM=,,"}).maxPacketCaptureNum, 100);
}

TEST(CommonSettingsIo, WritesEveryKeyInOrder) {
    CommonSettings s;
    s.autoSave = 0;
    s.noIcon = 7; // neither 0 nor 1
    s.window = {10, 20, 30, 40};
    s.messageFlags[1] = 1;
    ProfileDocument doc;
    struct DocProfile final : PrivateProfile {
        ProfileDocument& doc;
        explicit DocProfile(ProfileDocument& d) : doc(d) {}
        uint32_t getSectionNames(std::span<char> b, const std::string&) override {
            return doc.sectionNames(b);
        }
        uint32_t getSection(std::string_view s, std::span<char> b, const std::string&) override {
            return doc.section(s, b);
        }
        bool writeString(std::string_view s, std::string_view k, std::string_view v,
                         const std::string&) override {
            return doc.writeString(s, k, v);
        }
        void beginNewFile(const std::string&) override { doc = {}; }
        bool flush(const std::string&) override { return true; }
        void discard(const std::string&) override {}
    } profile(doc);
    ASSERT_TRUE(writeCommonSection(profile, s, "unused"));
    EXPECT_EQ(doc.serialize(),
              "[Common Settings]\n"
              "INI_FILE_VERSION=1300\n"
              "PORT_PROCESS_MAPPING=TRUE\n"
              "AUTO_SAVE=FALSE\n"
              "STARTUP_MINIMIZE=FALSE\n"
              "STARTUP_ON=FALSE\n"
              "NOICON=\n"
              "SYSTEM_CHECK=FALSE\n"
              "SHOW_ACTIVE_CONNECTION_ONLY=FALSE\n"
              "SHOW_LISTENING=FALSE\n"
              "MAX_PACKET_CAPTURE_NUM=100\n"
              "TIME_TO_CALC_AVERAGE_BANDWIDTH=5\n"
              "DO_DYNAMIC_FILTERING=TRUE\n"
              "BANDWIDTH_CONTROL_TIME=250\n"
              "LCFILTER_COLUMN_SIZE=130,59,85,80,65,39,65,101,101,96,82,82,109,109,102,95\n"
              "LCDYNAMICFILTER_COLUMN_SIZE=130,100,200,80,65,39,65\n"
              "LCTCPCONNECTION_COLUMN_SIZE=60,100,100,102,82,102,170,79,89,63,63,63,130\n"
              "LCTCPPACKET_COLUMN_SIZE=60,69,62,64,63,38,100,110,103,104,90,93,69,87\n"
              "LCUDPPACKET_COLUMN_SIZE=60,69,62,64,63,38,100,110,103,104\n"
              "LCFILTER_COLUMN_ORDER=0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15\n"
              "LCDYNAMICFILTER_COLUMN_ORDER=0,1,2,3,4,5,6\n"
              "LCTCPCONNECTION_COLUMN_ORDER=0,1,2,3,4,5,6,7,8,9,10,11,12\n"
              "LCTCPPACKET_COLUMN_ORDER=0,1,2,3,4,5,6,7,8,9,10,11,12,13\n"
              "LCUDPPACKET_COLUMN_ORDER=0,1,2,3,4,5,6,7,8,9\n"
              "WINDOW_SIZE=20,10,40,30\n"
              "CONFIRM_CLOSE=FALSE\n"
              "CLOSE_BUTTON_ACTION=0\n"
              "NOT_SHOW_MESSAGE=0,1\n");

    // And it reads back as written (the odd boolean keeps its default).
    CommonSettings back;
    for (const std::string& line : doc.sectionLines("Common Settings"))
        applyCommonLine(back, IniLine::parse(line));
    s.noIcon = 0;
    EXPECT_EQ(back, s);
}
