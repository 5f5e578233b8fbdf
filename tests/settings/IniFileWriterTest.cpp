#include "IniFileWriter.h"
#include "SettingsTestSupport.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <random>

using namespace tavrin;
using namespace tavrin::settings;
using namespace tavrin::test;

namespace {

// The text of one section of a written file, up to the next section.
std::string sectionText(const std::string& file, const std::string& name) {
    const std::string text = readBytes(file);
    const size_t start = text.find("[" + name + "]\n");
    if (start == std::string::npos)
        return {};
    const size_t end = text.find("\n[", start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
}

} // namespace

TEST(IniFileWriter, WritesFilterKeysInOrderWithTrueAndFalse) {
    const auto adapters = sampleAdapters();
    IniFileObject model;
    PacketFilter p;
    p.adapterIndex = 2;
    p.myIp = ip("192.168.1.10");
    p.otherIp = ip("10.0.0.0");
    p.otherIpMask = ip("255.0.0.0");
    p.isMyAllPort = 0;
    p.myPorts = {PortRange::fromHost(20, 21), PortRange::single(80)};
    p.drop = 1;
    p.direction = kDirectionDown;
    p.comment = "one = two";
    p.appName = "  curl\t";
    p.filterName = "web";
    model.AddPacketFilter(p);
    PacketFilter odd;
    odd.direction = -1; // as an invalid DIR text leaves it
    odd.adapterIndex = 42;
    odd.available = 5;
    model.AddPacketFilter(odd);
    DynamicFilter d;
    d.runningProcessName = "rsync";
    d.triggerFilterId = 1;
    d.targetFilterIds = {1, 2};
    model.AddDynamicFilter(d);
    model.AddDynamicFilter(DynamicFilter{});

    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    ASSERT_TRUE(writeSettings(model, file, *adapters));
    EXPECT_EQ(readBytes(file).rfind("[Common Settings]\nINI_FILE_VERSION=1300\n", 0), 0u);
    EXPECT_EQ(sectionText(file, "PacketFilter1"), "[PacketFilter1]\n"
                                                  "PROTOCOL=6\n"
                                                  "ADAPTER_NAME=eth0\n"
                                                  "OTHER_IP=10.0.0.0\n"
                                                  "MY_IP=192.168.1.10\n"
                                                  "IS_MY_IP=TRUE\n"
                                                  "OTHER_IP_MASK=255.0.0.0\n"
                                                  "OTHER_PORT=\n"
                                                  "IS_OTHER_ALL_PORT=TRUE\n"
                                                  "MY_IP_MASK=255.255.255.255\n"
                                                  "MY_PORT=20-21,80\n"
                                                  "IS_MY_ALL_PORT=FALSE\n"
                                                  "DROP=TRUE\n"
                                                  "DROP_SYN_ONLY=TRUE\n"
                                                  "BANDWIDTH=30\n"
                                                  "DO_BAND=FALSE\n"
                                                  "MINIMUM_PACKET_SIZE=100\n"
                                                  "DIR=DOWN\n"
                                                  "AVAILABLE=TRUE\n"
                                                  "COMMENT=one = two\n"
                                                  "APPNAME=curl\n"
                                                  "FILTER_NAME=web\n"
                                                  "ID=1\n"
                                                  "\n");
    const std::string second = sectionText(file, "PacketFilter2");
    EXPECT_NE(second.find("ADAPTER_NAME=none\n"), std::string::npos);
    EXPECT_NE(second.find("DIR=OTHER\n"), std::string::npos);
    EXPECT_NE(second.find("AVAILABLE=\n"), std::string::npos);
    EXPECT_EQ(sectionText(file, "DynamicFilter1"), "[DynamicFilter1]\n"
                                                   "DROP=FALSE\n"
                                                   "DROP_SYN_ONLY=TRUE\n"
                                                   "BANDWIDTH=30\n"
                                                   "DO_BAND=FALSE\n"
                                                   "MINIMUM_PACKET_SIZE=100\n"
                                                   "AVAILABLE=TRUE\n"
                                                   "COMMENT=\n"
                                                   "FILTER_NAME=NewFilter\n"
                                                   "TRIGGER_RUNNING_PROCESS_NAME=rsync\n"
                                                   "TRIGGER_CONNECTING_PROCESS_NAME=\n"
                                                   "TRIGGER_TOTAL_UP_BANDWIDTH_LOW=0\n"
                                                   "TRIGGER_TOTAL_UP_BANDWIDTH_HIGH=0\n"
                                                   "TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW=0\n"
                                                   "TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=0\n"
                                                   "TRIGGER_FILTER_BANDWIDTH_LOW=0\n"
                                                   "TRIGGER_FILTER_BANDWIDTH_HIGH=0\n"
                                                   "TRIGGER_FILTER_BANDWIDTH_ID=1\n"
                                                   "TARGET_FILTER_ID=1,2\n"
                                                   "\n");
    EXPECT_NE(sectionText(file, "DynamicFilter2").find("TARGET_FILTER_ID=\n"), std::string::npos);
}

TEST(IniFileWriter, CommonOnlyLeavesFilterSectionsAsTheyAre) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    const std::string filters = "[PacketFilter1]\nFILTER_NAME=one\n; hand comment\n\n"
                                "[PacketFilter2]\nFILTER_NAME=two\n\n"
                                "[PacketFilter3]\nFILTER_NAME=three\n";
    writeBytes(file, "[Common Settings]\nAUTO_SAVE=TRUE\n\n" + filters);
    IniFileObject model;
    model.SetAutoSave(0);
    model.AddPacketFilter(PacketFilter{}); // not written with commonOnly

    ASSERT_TRUE(writeSettings(model, file, *adapters, true));
    const std::string text = readBytes(file);
    EXPECT_NE(text.find("AUTO_SAVE=FALSE\n"), std::string::npos);
    EXPECT_NE(text.find("\n" + filters), std::string::npos);
    const ReadResult back = readSettings(file, *adapters);
    EXPECT_EQ(back.model.PacketFilterCount(), 3);
    EXPECT_EQ(back.model.GetAutoSave(), 0);
}

namespace {

// Fields that the file keeps; samples and process ports live only while running.
PacketFilter persisted(PacketFilter f) {
    f.bandwidthSamples.clear();
    f.currentBandwidth = 0;
    f.averageBandwidth = 0;
    f.processPortCount = 0;
    f.processPorts = {};
    f.appliedDynamicFilterId = 0;
    return f;
}

DynamicFilter persisted(DynamicFilter f) {
    f.bandwidthSamples.clear();
    f.currentBandwidth = 0;
    f.averageBandwidth = 0;
    f.appliedDynamicFilterId = 0;
    f.protocol = CommonFilter::kDefaultProtocol; // carried, not stored
    return f;
}

class RandomModel {
public:
    explicit RandomModel(uint32_t seed) : m_rng(seed) {}

    int32_t num(int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(m_rng);
    }
    uint32_t address() { return static_cast<uint32_t>(num(INT32_MIN, INT32_MAX)); }
    // Texts as the editors let them through (isStorableText) and without blanks at
    // either end; UTF-8 of several lengths.
    std::string text(size_t maxBytes, bool allowEmpty) {
        static const char* const pieces[] = {"a", "Z", "9",    "-", "_", ".",
                                             "=", "ä", "日本", "ｱ", " x"};
        std::string s;
        const int n = num(allowEmpty ? 0 : 1, 12);
        for (int i = 0; i < n; ++i) {
            const std::string piece = pieces[num(0, 10)];
            if (s.size() + piece.size() > maxBytes)
                break;
            s += piece;
        }
        if (s.starts_with(' ') || (s.empty() && !allowEmpty))
            s = "n" + s;
        return s;
    }
    std::vector<PortRange> portList() {
        std::vector<PortRange> out;
        const int n = num(0, 16);
        for (int i = 0; i < n; ++i) {
            const auto a = static_cast<uint16_t>(num(0, 65535));
            const auto b = static_cast<uint16_t>(num(0, 65535));
            out.push_back(num(0, 1) ? PortRange::single(a)
                                    : PortRange::fromHost(std::min(a, b), std::max(a, b)));
        }
        return out;
    }

    IniFileObject model(const AdapterList& adapters) {
        IniFileObject m;
        CommonSettings& c = m.Common();
        for (int32_t* flag : {&c.portProcessMapping, &c.autoSave, &c.startupMinimize, &c.startupOn,
                              &c.noIcon, &c.systemCheck, &c.confirmClose,
                              &c.showActiveConnectionOnly, &c.showListening, &c.doDynamicFiltering})
            *flag = num(0, 1);
        c.bandwidthControlTime = num(1, 100000);
        c.closeButtonAction = num(-5, 5);
        c.maxPacketCaptureNum = num(INT32_MIN, INT32_MAX);
        c.timeToCalcAverageBandwidth = num(-100, 100);
        for (auto& list : c.columnSizes)
            for (int32_t& v : list)
                v = num(-1000, 5000);
        for (auto& list : c.columnOrders)
            for (int32_t& v : list)
                v = num(0, 15);
        // Only a list's own columns are stored.
        for (const ColumnListInfo& info : kColumnLists) {
            for (size_t i = info.count; i < kMaxColumns; ++i) {
                c.columnSizes[static_cast<size_t>(info.list)][i] =
                    CommonSettings{}.columnSizes[static_cast<size_t>(info.list)][i];
                c.columnOrders[static_cast<size_t>(info.list)][i] = 0;
            }
        }
        c.window = {num(-3000, 3000), num(-3000, 3000), num(-3000, 3000), num(-3000, 3000)};
        c.messageFlags = {num(0, 1), num(0, 1)};

        std::vector<int32_t> freeIds;
        for (int32_t id = 1; id <= 63; ++id)
            freeIds.push_back(id);
        std::shuffle(freeIds.begin(), freeIds.end(), m_rng);
        const int packets = num(0, 40);
        for (int i = 0; i < packets; ++i) {
            PacketFilter f;
            f.id = freeIds[static_cast<size_t>(i)];
            f.protocol = static_cast<uint16_t>(num(0, 1) ? num(0, 255) : 6);
            f.direction = num(0, 2);
            f.appName = text(40, true);
            // Bound as an editor binds: a listed adapter, none, or one not there now.
            const int adapter = num(0, 3);
            if (adapter == 3) {
                f.adapterName = "wg" + std::to_string(num(0, 9));
            } else if (adapter > 0) {
                f.adapterIndex = adapters[static_cast<size_t>(adapter)].index;
                f.adapterName = adapters[static_cast<size_t>(adapter)].name;
            }
            f.myIp = address();
            f.otherIp = address();
            f.myIpMask = address();
            f.otherIpMask = address();
            f.isMyIp = num(0, 1);
            f.isMyAllPort = num(0, 1);
            f.isOtherAllPort = num(0, 1);
            f.myPorts = portList();
            f.otherPorts = portList();
            fillCommon(f);
            m.AddPacketFilter(f);
        }
        const int dynamics = num(0, 20);
        for (int i = 0; i < dynamics; ++i) {
            DynamicFilter f;
            f.runningProcessName = text(30, true);
            f.connectingProcessName = text(30, true);
            f.totalUpLow = num(0, 100000);
            f.totalUpHigh = num(0, 100000);
            f.totalDownLow = num(0, 100000);
            f.totalDownHigh = num(0, 100000);
            f.filterBandwidthLow = num(0, 100000);
            f.filterBandwidthHigh = num(0, 100000);
            f.triggerFilterId = num(0, 63);
            const int targets = num(0, 10);
            for (int t = 0; t < targets; ++t)
                f.targetFilterIds.push_back(num(1, 63));
            fillCommon(f);
            m.AddDynamicFilter(f);
        }
        return m;
    }

private:
    void fillCommon(CommonFilter& f) {
        f.available = num(0, 1);
        f.drop = num(0, 1);
        f.dropSynOnly = num(0, 1);
        f.doBand = num(0, 1);
        f.bandwidth = num(INT32_MIN, INT32_MAX);
        f.minimumPacketSize = num(-1, 1600);
        f.filterName = text(CommonFilter::kMaxFilterNameWidth, false);
        f.comment = text(CommonFilter::kMaxCommentWidth, true);
        f.bandwidthSamples = {1, 2, 3};
        f.averageBandwidth = 2;
    }

    std::mt19937 m_rng;
};

} // namespace

TEST(IniFileWriter, EveryFieldSurvivesAWriteAndARead) {
    const auto adapters = sampleAdapters();
    TempFolder dir;
    const std::string file = dir.file("Setting.ini");
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        RandomModel random(seed);
        const IniFileObject model = random.model(*adapters);
        ASSERT_TRUE(writeSettings(model, file, *adapters));
        const ReadResult back = readSettings(file, *adapters);
        ASSERT_TRUE(back.ok) << "seed " << seed;
        EXPECT_TRUE(back.messages.empty()) << "seed " << seed;
        EXPECT_EQ(back.model.Common(), model.Common()) << "seed " << seed;
        ASSERT_EQ(back.model.PacketFilterCount(), model.PacketFilterCount()) << "seed " << seed;
        for (int i = 0; i < model.PacketFilterCount(); ++i)
            EXPECT_EQ(persisted(*back.model.PacketFilterAt(i)), persisted(*model.PacketFilterAt(i)))
                << "seed " << seed << " packet filter " << i;
        ASSERT_EQ(back.model.DynamicFilterCount(), model.DynamicFilterCount());
        for (int i = 0; i < model.DynamicFilterCount(); ++i)
            EXPECT_EQ(persisted(*back.model.DynamicFilterAt(i)),
                      persisted(*model.DynamicFilterAt(i)))
                << "seed " << seed << " dynamic filter " << i;
    }
}
