// The filtering session against the real engine: the exact requests of start,
// stop and rebuild, and the timers' work on real counters, captures and tables.
#include "CoreHarness.h"
#include "SessionSettings.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrin::core {
namespace {

using ovlank::test::PacketBuilder;
using test::kLocal;
using test::kRemote;
using Strings = std::vector<std::string>;

using test::common;
using test::packetSection;
using test::threeFilters;
using test::toLocal;

class FilteringSessionTest : public ::testing::Test, protected test::CoreHarness {
protected:
    FilteringSessionTest() = default;
    explicit FilteringSessionTest(std::unique_ptr<TcpTableSource> table)
        : test::CoreHarness(std::move(table)) {}

    FilteringSession& session() { return m_core.session(); }
    ovlank::DriverRule addedRule(size_t n) {
        std::vector<const test::EngineDevice::Request*> adds;
        for (const auto& r : m_engine.requests())
            if (r.code == ovlank::ADD_FILTER)
                adds.push_back(&r);
        ovlank::DriverRule rule{};
        if (n < adds.size() && adds[n]->input.size() == sizeof rule)
            std::memcpy(&rule, adds[n]->input.data(), sizeof rule);
        return rule;
    }
};

TEST_F(FilteringSessionTest, StartLoadsEveryEnabledFilterThenRegistersTheHook) {
    // A daemon left filtering by a program that died: the bring-up switches it off.
    ASSERT_EQ(m_engine.engine().dispatch(ovlank::START_FILTERING, {}, {}).status,
              ovlank::STATUS_SUCCESS);
    ASSERT_TRUE(start(threeFilters("BANDWIDTH_CONTROL_TIME=100\n")));
    EXPECT_EQ(m_engine.names(),
              (Strings{"SET_LOCALIP", "ADD_FILTER", "ADD_FILTER", "START_IP_HOOK"}));
    EXPECT_TRUE(m_engine.hookRegistered());
    EXPECT_TRUE(m_messages.texts().empty()) << ::testing::PrintToString(m_messages.texts());
    // The local address list: the entry for no adapter, then the adapter.
    const std::vector<uint8_t> addresses = m_engine.requests()[0].input;
    ASSERT_EQ(addresses.size(), 12u);
    EXPECT_EQ(addresses[0], 2);
    uint32_t second = 0;
    std::memcpy(&second, addresses.data() + 8, 4);
    EXPECT_EQ(second, kLocal);
    // 10 KB/s with a 100 ms period is 1020 bytes per period.
    EXPECT_EQ(addedRule(0).block, 1);
    EXPECT_EQ(addedRule(1).limit, 1020u);
    EXPECT_TRUE(m_view.timersRunning);
    EXPECT_EQ(m_view.timerPeriod, std::chrono::milliseconds(100));
    EXPECT_EQ(m_view.events, (Strings{"filtering off", "rules reloaded", "timers on"}));
    EXPECT_EQ(m_view.panes[kPaneUp], " UP    未測定");
    EXPECT_EQ(m_view.panes[kPaneTotal], " TOTAL ");

    // The hook counts but drops nothing until filtering is switched on.
    EXPECT_FALSE(session().filtering());
    EXPECT_TRUE(decide(toLocal(5555)));
    session().startFiltering();
    EXPECT_FALSE(decide(toLocal(5555)));
    EXPECT_TRUE(decide(toLocal(5556)));
    EXPECT_TRUE(session().filtering());
}

TEST_F(FilteringSessionTest, ARebuildSendsEverythingAgainAndFilteringStaysOn) {
    ASSERT_TRUE(start(threeFilters()));
    session().startFiltering();
    m_engine.clear();
    m_core.edited().PacketFilterAt(1)->available = 1; // the disabled filter joins in
    m_core.filtersChanged();
    EXPECT_EQ(m_engine.names(),
              (Strings{"STOP_IP_HOOK", "CLEAR_FILTER", "SET_LOCALIP", "ADD_FILTER", "ADD_FILTER",
                       "ADD_FILTER", "START_IP_HOOK"}));
    EXPECT_FALSE(m_core.settingsSaved());
    EXPECT_EQ(m_core.inForce().AvailablePacketFilterCount(), 3);
    // Filter 2 (drop all UDP) now stands second and filtering is still on.
    EXPECT_FALSE(decide(toLocal(7777)));

    // A period below 1 ms is taken as the default 250, never as "no limit".
    m_engine.clear();
    m_core.edited().SetBandwidthControlTime(0);
    m_core.filtersChanged();
    EXPECT_EQ(m_view.timerPeriod, std::chrono::milliseconds(250));
    EXPECT_EQ(addedRule(2).limit, 10u * 256);

    m_engine.clear();
    session().stop();
    EXPECT_EQ(m_engine.names(), (Strings{"STOP_IP_HOOK", "CLEAR_FILTER"}));
    EXPECT_FALSE(m_view.timersRunning);
    EXPECT_FALSE(m_engine.hookRegistered());
}

TEST_F(FilteringSessionTest, AFailedRequestShowsItsMessageAndEndsItsStep) {
    ASSERT_TRUE(start(threeFilters()));
    ASSERT_TRUE(session().running());

    // SET_LOCALIP carries the result code; no rule and no hook follow it.
    m_engine.clear();
    m_engine.refuseNext(ovlank::SET_LOCALIP);
    session().restart();
    EXPECT_EQ(m_engine.names(), (Strings{"STOP_IP_HOOK", "CLEAR_FILTER", "SET_LOCALIP"}));
    EXPECT_EQ(m_messages.texts(),
              (Strings{"FAILED: DeviceIoControl SET_LOCALIP\nReturn code : -9"}));
    EXPECT_FALSE(session().running());
    EXPECT_FALSE(m_view.timersRunning);

    // START_IP_HOOK: the rules are in, but neither the hook nor the timers run.
    m_messages.clear();
    m_engine.refuseNext(ovlank::START_IP_HOOK);
    session().restart();
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl START_IP_HOOK"}));
    EXPECT_FALSE(session().running());
    EXPECT_FALSE(m_engine.hookRegistered());
    EXPECT_FALSE(m_view.timersRunning);

    // A stop that fails keeps the session and its timers, and a restart does not
    // load the rules again behind the ones still there.
    session().restart();
    ASSERT_TRUE(session().running());
    const std::pair<uint32_t, Strings> stops[] = {
        {ovlank::STOP_IP_HOOK, {"STOP_IP_HOOK"}},
        {ovlank::CLEAR_FILTER, {"STOP_IP_HOOK", "CLEAR_FILTER"}},
    };
    for (const auto& [code, sent] : stops) {
        m_messages.clear();
        m_engine.clear();
        m_engine.refuseNext(code);
        session().restart();
        EXPECT_EQ(m_engine.names(), sent);
        EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl " + sent.back()}));
        EXPECT_TRUE(session().running());
        EXPECT_TRUE(m_view.timersRunning);
    }
    m_engine.refuseNext(ovlank::CLEAR_FILTER);
    EXPECT_FALSE(session().stop());
    EXPECT_TRUE(m_view.timersRunning);
    session().restart();
    ASSERT_TRUE(session().running());

    // A refused switch changes neither the flag nor the window.
    m_messages.clear();
    m_view.events.clear();
    m_engine.refuseNext(ovlank::START_FILTERING);
    session().startFiltering();
    EXPECT_FALSE(session().filtering());
    EXPECT_TRUE(decide(toLocal(5555)));
    session().startFiltering();
    m_engine.refuseNext(ovlank::STOP_FILTERING);
    session().stopFiltering();
    EXPECT_TRUE(session().filtering());
    EXPECT_FALSE(decide(toLocal(5555)));
    session().stopFiltering();
    EXPECT_FALSE(session().filtering());
    EXPECT_TRUE(decide(toLocal(5555)));
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl START_FILTERING",
                                           "FAILED: DeviceIoControl STOP_FILTERING"}));
    EXPECT_EQ(m_view.events, (Strings{"filtering on", "filtering off"}));

    // A failed counter read counts nothing.
    m_messages.clear();
    decide(toLocal(6666));
    m_engine.refuseNext(ovlank::CLEAR_BANDWIDTH);
    session().readCounters();
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl CLEAR_BANDWIDTH"}));
    EXPECT_EQ(session().bandwidth().accumulator(2), 0);
    EXPECT_EQ(session().bandwidth().receivedSum(), BandwidthMonitor::kNotMeasured);
}

TEST_F(FilteringSessionTest, WithoutFiltersTheSessionStillCounts) {
    ASSERT_TRUE(start(common()));
    EXPECT_EQ(m_engine.names(), (Strings{"SET_LOCALIP", "START_IP_HOOK"}));
    decide(toLocal(5555, 986)); // 20 + 8 + 986 + 14 = 1028 wire bytes received
    session().readCounters();
    session().secondTick();
    EXPECT_EQ(m_view.panes[kPaneDown], " DOWN     1.0 KB/s");
    EXPECT_EQ(m_view.panes[kPaneUp], " UP     0.0 KB/s");
}

TEST_F(FilteringSessionTest, AListGrownPastSixtyFourKeepsItsFirstSixtyFourInForce) {
    // 66 filters, the first disabled: the 64th rule is the filter at position 64.
    std::string settings = common();
    for (int n = 1; n <= 66; ++n)
        settings +=
            packetSection(n, "MY_PORT=" + std::to_string(1000 + n) +
                                 "\nIS_MY_ALL_PORT=FALSE\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\n" +
                                 (n == 1 ? "AVAILABLE=FALSE\n" : ""));
    ASSERT_TRUE(start(settings));
    long adds = 0;
    for (const auto& r : m_engine.requests()) {
        if (r.code == ovlank::ADD_FILTER) {
            ++adds;
            EXPECT_EQ(r.status, ovlank::STATUS_SUCCESS);
        }
    }
    EXPECT_EQ(adds, 64);
    EXPECT_EQ(m_engine.names().back(), "START_IP_HOOK");
    EXPECT_EQ(m_messages.texts(), (Strings{"FAILED: DeviceIoControl ADD_FILTER"}));
    // Every rule in force is counted, wherever its filter stands in the list.
    decide(toLocal(1002));
    decide(toLocal(1065));
    decide(toLocal(1066));
    session().readCounters();
    session().secondTick();
    const auto& filters = m_core.inForce().PacketFilters();
    EXPECT_GT(filters[1]->currentBandwidth, 0);
    EXPECT_GT(filters[64]->currentBandwidth, 0);
    EXPECT_EQ(filters[65]->currentBandwidth, 0);
    session().startFiltering();
    EXPECT_TRUE(decide(toLocal(1001)));
    EXPECT_FALSE(decide(toLocal(1065)));
    EXPECT_TRUE(decide(toLocal(1066)));
}

TEST_F(FilteringSessionTest, CountersBecomePerFilterAndTotalBandwidth) {
    ASSERT_TRUE(start(threeFilters("TIME_TO_CALC_AVERAGE_BANDWIDTH=2\n")));
    const auto packet = toLocal(6666, 1000); // 1042 wire bytes, matched by rule 1
    decide(packet);
    decide(packet);
    session().readCounters();
    decide(packet);
    session().readCounters();
    session().secondTick();
    const PacketFilter& limited = *m_core.inForce().PacketFilterAt(2);
    EXPECT_EQ(limited.currentBandwidth, 3 * 1042);
    EXPECT_EQ(limited.averageBandwidth, 3u * 1042);
    EXPECT_EQ(m_core.inForce().PacketFilterAt(1)->currentBandwidth, 0);
    EXPECT_EQ(m_view.panes[kPaneDown], " DOWN     3.1 KB/s");
    EXPECT_EQ(session().bandwidth().receivedAverage(), 3 * 1042);

    // While hidden the filters keep counting but the totals and panes stand still.
    session().setHidden(true);
    m_view.panes.clear();
    decide(packet);
    session().readCounters();
    session().secondTick();
    EXPECT_EQ(limited.currentBandwidth, 1042);
    EXPECT_EQ(limited.averageBandwidth, (3u * 1042 + 1042) / 2);
    EXPECT_TRUE(m_view.panes.empty());
    EXPECT_EQ(session().bandwidth().receivedAverage(), 3 * 1042);
}

// The bandwidth graph's log: nothing before the first reading, then one sample a
// second with both totals and every filter's bytes by ID, hidden or not.
TEST_F(FilteringSessionTest, SecondsEnterTheBandwidthLogOnceMeasured) {
    ASSERT_TRUE(start(threeFilters()));
    session().secondTick();
    EXPECT_TRUE(session().bandwidthLog().empty());
    EXPECT_EQ(m_view.bandwidthRecords, 0);

    const auto packet = toLocal(6666, 1000); // 1042 wire bytes, matched by filter ID 3
    decide(packet);
    session().readCounters();
    session().secondTick();
    session().setHidden(true);
    decide(packet);
    decide(packet);
    session().readCounters();
    session().secondTick();

    const auto& samples = session().bandwidthLog().samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(m_view.bandwidthRecords, 2);
    EXPECT_EQ(samples[0].received, 1042);
    EXPECT_EQ(samples[1].received, 2 * 1042);
    EXPECT_EQ(samples[1].sent, 0);
    EXPECT_EQ(samples[1].filterBytes(3), 2 * 1042);
    EXPECT_EQ(samples[1].filterBytes(1), 0);
    EXPECT_EQ(samples[1].filterBytes(2), 0); // disabled, but listed
    EXPECT_LE(samples[0].time, samples[1].time);
}

TEST_F(FilteringSessionTest, CapturedPacketsAreDrainedToTheMonitorAndTheConnections) {
    ASSERT_TRUE(start(threeFilters()));
    decide(toLocal(5555, 4));
    decide(PacketBuilder::tcp(kRemote, 40000, kLocal, 80));
    session().drainPackets();
    EXPECT_TRUE(m_view.captured.empty()); // the monitor check box is off
    session().setMonitorPackets(true);
    decide(toLocal(5555, 4));
    decide(PacketBuilder::tcp(kRemote, 40000, kLocal, 80));
    session().drainPackets();
    ASSERT_EQ(m_view.captured.size(), 2u);
    EXPECT_EQ(m_view.captured[0].ruleIndex, 0);
    EXPECT_EQ(m_view.captured[0].length, 32u);
    EXPECT_EQ(m_view.captured[1].ruleIndex, -1);
    EXPECT_EQ(m_view.captured[1].length, 40u);
    EXPECT_EQ(m_view.noRedraws, (std::vector<bool>{true, true}));
    EXPECT_EQ(m_view.redraws, 1);
    // Nothing left: a further drain asks once and stops.
    m_engine.clear();
    session().drainPackets();
    EXPECT_EQ(m_engine.names(), (Strings{"GET_PACKET"}));
}

TEST_F(FilteringSessionTest, AFloodIsDrainedAtMostOneRingPerTick) {
    ASSERT_TRUE(start(common("MAX_PACKET_CAPTURE_NUM=500\n")));
    session().setMonitorPackets(true);
    session().setHidden(true);
    for (int i = 0; i < 3999; ++i)
        decide(toLocal(5555));
    session().drainPackets();
    EXPECT_EQ(m_view.captured.size(), 3999u);
    EXPECT_EQ(m_view.noRedraws.front(), true); // hidden with more than 200 rows
    EXPECT_EQ(m_view.redraws, 0);
}

// A TCP socket of this very process, listening on loopback.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof in;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 ||
            ::listen(m_fd, 1) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&in), &length) != 0)
            throw std::runtime_error("listen");
        m_port = ntohs(in.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    uint16_t port() const { return m_port; }

private:
    int m_fd;
    uint16_t m_port = 0;
};

std::string programName() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<size_t>(n) : 0);
    return text.substr(text.rfind('/') + 1);
}

TEST_F(FilteringSessionTest, ProcessBoundFiltersGetTheirProcessesPorts) {
    Listener listener;
    // Rule 0 is bound to this test program (in upper case: names match without
    // regard to case), rule 1 to a program that does not run.
    std::string upper = programName();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string settings =
        common() + packetSection(1, "PROTOCOL=6\nDIR=UP\nDROP=TRUE\nAPPNAME=" + upper + "\n") +
        packetSection(2, "PROTOCOL=6\nAPPNAME=no-such-program.bin\n");
    ASSERT_TRUE(start(settings));
    std::vector<const test::EngineDevice::Request*> ports;
    for (const auto& r : m_engine.requests())
        if (r.code == ovlank::SET_PORTS)
            ports.push_back(&r);
    ASSERT_EQ(ports.size(), 2u);
    // Before the hook, after the rules.
    EXPECT_EQ(m_engine.names().back(), "START_IP_HOOK");

    const std::vector<uint8_t>& bound = ports[0]->input;
    ASSERT_GE(bound.size(), 8u);
    ASSERT_EQ(bound.size() % 2, 0u);
    EXPECT_EQ(bound[0], 0); // rule 0
    EXPECT_EQ(bound[2], 0); // UP: the source port is the local one
    const uint16_t count = static_cast<uint16_t>(bound[4] | bound[5] << 8);
    ASSERT_EQ(bound.size(), 6u + 2u * count);
    std::vector<uint16_t> sent(count);
    std::memcpy(sent.data(), bound.data() + 6, 2u * count);
    EXPECT_NE(std::find(sent.begin(), sent.end(), listener.port()), sent.end());
    const PacketFilter& filter = *m_core.inForce().PacketFilterAt(0);
    EXPECT_EQ(filter.processPortCount, count);
    EXPECT_EQ(filter.GetProcessPortText().find(std::to_string(listener.port())) !=
                  std::string::npos,
              true);

    // No process: the rule matches nothing, sent as the 6-byte form.
    EXPECT_EQ(ports[1]->input, (std::vector<uint8_t>{1, 0, 1, 0, 0xFF, 0xFF}));
    EXPECT_EQ(m_core.inForce().PacketFilterAt(1)->processPortCount, 0xFFFF);
    EXPECT_EQ(m_core.inForce().PacketFilterAt(1)->GetProcessPortText(), "None");
}

using test::RowsTable;

class SessionPortListTest : public FilteringSessionTest {
protected:
    SessionPortListTest() : SessionPortListTest(std::make_shared<std::vector<TcpRow>>()) {}
    explicit SessionPortListTest(std::shared_ptr<std::vector<TcpRow>> rows)
        : FilteringSessionTest(std::make_unique<RowsTable>(rows)), m_rows(std::move(rows)) {}

    void addRow(uint32_t state, uint16_t port, int32_t pid = static_cast<int32_t>(::getpid())) {
        TcpRow row;
        row.state = state;
        row.localAddr = htonl(INADDR_LOOPBACK);
        row.localPort = htons(port);
        row.remoteAddr = state == kTcpListening ? 0 : kRemote;
        row.remotePort = htons(static_cast<uint16_t>(40000 + m_rows->size()));
        row.processId = pid;
        m_rows->push_back(row);
    }
    std::vector<std::vector<uint8_t>> portRequests() const {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& r : m_engine.requests())
            if (r.code == ovlank::SET_PORTS)
                out.push_back(r.input);
        return out;
    }

    std::shared_ptr<std::vector<TcpRow>> m_rows;
};

TEST_F(SessionPortListTest, PortListsTakeLiveStatesOnceEachAndAtMost256) {
    addRow(kTcpListening, 80);
    addRow(kTcpEstablished, 80); // the same port right after: sent once
    addRow(kTcpClosed, 81);      // states outside 2 to 5 are passed over
    addRow(kTcpFinWait1, 82);
    addRow(kTcpSynSent, 83);
    addRow(kTcpSynReceived, 84);
    addRow(kTcpEstablished, 85, 1); // another program
    for (uint16_t port = 1000; port < 1300; ++port)
        addRow(kTcpEstablished, port);
    const std::string program = "PROTOCOL=6\nDROP=TRUE\nAPPNAME=" + programName() + "\n";
    ASSERT_TRUE(start(common() + packetSection(1, program) + packetSection(2, program)));

    auto requests = portRequests();
    ASSERT_EQ(requests.size(), 2u);
    const std::vector<uint8_t>& request = requests[0];
    ASSERT_EQ(request.size(), 6u + 2u * 256);
    EXPECT_EQ(request[0] | request[1] << 8, 0); // rule 0
    EXPECT_EQ(request[2] | request[3] << 8, 1); // DOWN: the destination port is the local one
    EXPECT_EQ(request[4] | request[5] << 8, 256);
    std::vector<uint16_t> ports(256);
    std::memcpy(ports.data(), request.data() + 6, 2 * ports.size());
    std::vector<uint16_t> expected{80, 83, 84};
    for (uint16_t port = 1000; expected.size() < 256; ++port)
        expected.push_back(port);
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(m_core.inForce().PacketFilterAt(0)->processPortCount, 256);
    EXPECT_EQ(requests[1][0], 1); // rule 1 got its own list

    // A refused list is passed over and the next filter still gets its own.
    m_engine.clear();
    m_engine.refuseNext(ovlank::SET_PORTS);
    session().connectionTick();
    EXPECT_EQ(portRequests().size(), 2u);
    EXPECT_EQ(m_engine.requests().back().status, ovlank::STATUS_SUCCESS);
    EXPECT_TRUE(m_messages.texts().empty()) << ::testing::PrintToString(m_messages.texts());

    // Without a device the step ends at its first list; whoever keeps the link
    // reports that, not every step that finds it gone.
    m_engine.clear();
    m_ovlank.CloseDevice();
    EXPECT_FALSE(session().updatePortLists());
    EXPECT_TRUE(m_engine.requests().empty());
    EXPECT_TRUE(m_messages.texts().empty());
}

TEST_F(FilteringSessionTest, DynamicOverridesFollowFilteringAndTheCheckBox) {
    const std::string settings =
        threeFilters() +
        "[DynamicFilter1]\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nAVAILABLE=TRUE\nTARGET_FILTER_ID=3\n";
    ASSERT_TRUE(start(settings));
    session().connectionTick(); // filtering off: nothing to override
    EXPECT_TRUE(decide(toLocal(6666)));
    session().startFiltering();
    m_engine.clear();
    session().connectionTick();
    EXPECT_EQ(m_engine.names().back(), "CHANGE_FILTER");
    EXPECT_FALSE(decide(toLocal(6666))); // filter 3 now drops
    EXPECT_EQ(session().dynamicPass().overriddenRules(), (std::vector<int32_t>{1}));
    session().secondTick();
    EXPECT_EQ(m_view.overriddenRules, (std::vector<int32_t>{1}));

    m_core.setDynamicFiltering(false);
    EXPECT_EQ(m_core.edited().GetDoDynamicFiltering(), 0);
    session().connectionTick();
    EXPECT_TRUE(decide(toLocal(6666))); // its own rule is back
    m_engine.clear();
    session().connectionTick();
    for (const auto& name : m_engine.names())
        EXPECT_NE(name, "CHANGE_FILTER");
}

TEST_F(FilteringSessionTest, AChangedAdapterAddressRestartsTheSession) {
    const std::string settings =
        common() + packetSection(1, "ADAPTER_NAME=eth7\nIS_MY_IP=TRUE\nMY_IP=192.168.7.2\n"
                                    "MY_IP_MASK=255.255.255.255\nDROP=TRUE\n");
    ASSERT_TRUE(start(settings));
    m_engine.clear();
    session().addressTick();
    EXPECT_TRUE(m_engine.names().empty()); // nothing changed

    m_adapterRows[0].address = ovlank::test::ip(192, 168, 7, 9);
    session().addressTick();
    EXPECT_EQ(m_engine.names().front(), "STOP_IP_HOOK");
    EXPECT_EQ(m_engine.names().back(), "START_IP_HOOK");
    EXPECT_EQ(m_core.inForce().PacketFilterAt(0)->myIp, ovlank::test::ip(192, 168, 7, 9));
    EXPECT_EQ(addedRule(0).destinationAddress, ovlank::test::ip(192, 168, 7, 9));
}

} // namespace
} // namespace tavrin::core
