// Runs the real tavrinctl show on settings files.
#include "RunProcess.h"
#include "TempFolder.h"
#include "TestPaths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tavrin {
namespace {

test::ProcessResult tavrinctl(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(test::kBinDir) + "/tavrinctl");
    return test::runProcess(args);
}

std::string dataFile(const char* name) {
    return std::string(test::kDataDir) + "/settings/" + name;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ShowCommand, PrintsOptionsFiltersAndRules) {
    const auto r = tavrinctl({"show", dataFile("values.ini")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    // Reader messages go to standard error.
    EXPECT_EQ(r.err, "無効な方向です：up\n");
    EXPECT_TRUE(contains(r.out, "  AUTO_SAVE = TRUE\n"));
    EXPECT_TRUE(contains(r.out, "  WINDOW_SIZE = 0,0,500,800\n"));
    EXPECT_TRUE(contains(r.out, "Packet filters: 2\n"));
    EXPECT_TRUE(contains(r.out, "  #1  ID 9  a  (disabled)\n"));
    EXPECT_TRUE(contains(r.out, "    otherPorts         20-21,80,0-1023,0,0\n"));
    EXPECT_TRUE(contains(r.out, "    comment            x=y\n"));
    // UDP (0x11), two reserved bytes, then the remote end as source for DOWN.
    EXPECT_TRUE(contains(r.out, "    DriverRule         110000000a010203c0a8010a"));
    EXPECT_TRUE(contains(r.out, "    direction          -1 (invalid, written as OTHER)\n"));
    // The name is kept whether or not this machine has such an interface.
    EXPECT_TRUE(contains(r.out, "    adapterName        eth9\n"));
    EXPECT_TRUE(contains(r.out, "Dynamic filters: 1\n"));
    EXPECT_TRUE(contains(r.out, "    condition: rsyncが起動中 かつ sshのコネクションが存在 かつ "
                                "TOTAL UP帯域が10KB/s以上20KB/s以下 かつ "
                                "TOTAL DOWN帯域が30KB/s以上40KB/s以下 かつ "
                                "aの帯域が50KB/s以上60KB/s以下\n"));
    EXPECT_TRUE(contains(r.out, "    targets:   9,1\n"));
    EXPECT_TRUE(contains(r.out, "drop=1 dropSynOnly=0 doBand=1 bandwidth=5 minimumPacketSize=60"));
}

TEST(ShowCommand, PrintsJsonAndWritesTheModelBack) {
    test::TempFolder dir;
    const std::string out = dir.file("out.ini");
    auto r = tavrinctl({"show", "--json", "--write", out, dataFile("windows_cp932.ini")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"file\":", 0), 0u);
    EXPECT_TRUE(contains(r.out, "\"AUTO_SAVE\":\"FALSE\""));
    EXPECT_TRUE(contains(r.out, "\"name\":\"ウェブ制限\",\"enabled\":true"));
    // Numeric fields are numbers, texts are strings.
    EXPECT_TRUE(contains(r.out, "\"protocol\":6,\"direction\":0,\"adapterIndex\":-1,"
                                "\"adapterName\":\"none\",\"myIp\":\"0.0.0.0\""))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\"dynamicFilters\":[]}\n"));

    // What was written is UTF-8 and reads back to the same listing.
    const std::string written = test::readBytes(out);
    EXPECT_TRUE(contains(written, "FILTER_NAME=ウェブ制限\n"));
    EXPECT_TRUE(contains(written, "COMMENT=日本語のコメント\n"));
    const auto again = tavrinctl({"show", "--json", out});
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_EQ(again.out.substr(again.out.find(",\"commonSectionName\"")),
              r.out.substr(r.out.find(",\"commonSectionName\"")));
}

// Texts of a hand-edited file and a file name in no encoding at all: the JSON stays
// valid and gives every text back, each byte that is no UTF-8 as U+FFFD.
TEST(ShowCommand, JsonStaysValidForHostileTexts) {
    test::TempFolder dir;
    const std::string hostile = "q\"b\\s\x01\t\x1b[2J\x7f日本語";
    const std::string file = dir.file("set\"\\\x02\xff\xfe名.ini");
    test::writeBytes(file, "[Common Settings]\nAUTO_SAVE=FALSE\n"
                           "[PacketFilter1]\nFILTER_NAME=" +
                               hostile + "\nCOMMENT=" + hostile + "\nAPPNAME=" + hostile +
                               "\n[DynamicFilter1]\nFILTER_NAME=" + hostile + "\n");
    const auto r = tavrinctl({"show", "--json", file});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (size_t i = 0; i + 1 < r.out.size(); ++i)
        ASSERT_GE(static_cast<unsigned char>(r.out[i]), 0x20u) << i << ": " << r.out;
    const nlohmann::json document = nlohmann::json::parse(r.out); // throws when not JSON
    EXPECT_EQ(document["file"], dir.file("set\"\\\x02\xef\xbf\xbd\xef\xbf\xbd名.ini"));
    const nlohmann::json& filter = document["packetFilters"][0];
    EXPECT_EQ(filter["name"], hostile);
    EXPECT_EQ(filter["comment"], hostile);
    EXPECT_EQ(filter["appName"], hostile);
    EXPECT_EQ(document["dynamicFilters"][0]["name"], hostile);
    // Numbers stay numbers, flags booleans.
    EXPECT_TRUE(filter["protocol"].is_number_integer());
    EXPECT_TRUE(filter["enabled"].is_boolean());
}

TEST(ShowCommand, ReportsWhatCannotBeReadOrWritten) {
    test::TempFolder dir;
    auto r = tavrinctl({"show", dir.file("missing.ini")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, "no settings read from")) << r.err;

    r = tavrinctl({"show", dir.path()});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, dir.path() + ": ")) << r.err;

    r = tavrinctl({"show", "--write", dir.file("no/such/folder.ini"), dataFile("only_common.ini")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.err, "cannot write")) << r.err;

    EXPECT_EQ(tavrinctl({"show", "--bogus"}).exitStatus, 2);
    EXPECT_EQ(tavrinctl({"show", "a.ini", "b.ini"}).exitStatus, 2);
    EXPECT_EQ(tavrinctl({"show", "--write"}).exitStatus, 2);
}

} // namespace tavrin
