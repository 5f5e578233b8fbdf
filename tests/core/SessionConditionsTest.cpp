// The conditions of dynamic filters as the session evaluates them every second, on
// the real engine's counters and a connection table the test sets: the machine's
// total upload against its total download, processes with connections against
// mere listeners, and the work a hidden window leaves undone.
#include "CoreHarness.h"
#include "SessionSettings.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

namespace tavrin::core {
namespace {

using ovlank::test::PacketBuilder;
using test::common;
using test::kLocal;
using test::kRemote;
using test::packetSection;
using test::RowsTable;
using test::toLocal;

// 20 + 8 + 982 + 14: one KB on the wire, so that bounds are met exactly.
constexpr size_t kKilobytePayload = 982;

std::string programName() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, n > 0 ? static_cast<size_t>(n) : 0);
    return text.substr(text.rfind('/') + 1);
}

// Filter 1 (UDP 6666, passing) is the target of one dynamic filter with `condition`.
std::string targetWith(const std::string& condition) {
    return common() + packetSection(1, "MY_PORT=6666\nIS_MY_ALL_PORT=FALSE\n") +
           "[DynamicFilter1]\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nAVAILABLE=TRUE\nTARGET_FILTER_ID="
           "1\n" +
           condition;
}

// The core with a connection table of the test's own.
class Rig : public test::CoreHarness {
public:
    explicit Rig(
        std::shared_ptr<std::vector<TcpRow>> rows = std::make_shared<std::vector<TcpRow>>())
        : test::CoreHarness(std::make_unique<RowsTable>(rows)), m_rows(std::move(rows)) {}

    FilteringSession& session() { return m_core.session(); }
    // A connection of this process with the given state, on loopback.
    void addRow(uint32_t state, int32_t pid = static_cast<int32_t>(::getpid())) {
        TcpRow row;
        row.state = state;
        row.localAddr = kLocal;
        row.localPort = htons(static_cast<uint16_t>(1000 + m_rows->size()));
        row.remoteAddr = state == kTcpListening ? 0 : kRemote;
        row.remotePort = state == kTcpListening ? 0 : htons(40000);
        row.processId = pid;
        m_rows->push_back(row);
    }
    bool overridden() { return !session().dynamicPass().overriddenRules().empty(); }

    std::shared_ptr<std::vector<TcpRow>> m_rows;
};

TEST(SessionConditions, TotalUploadAndDownloadAreEachTheirOwnDirection) {
    struct Case {
        const char* condition;
        int kilobytesUp;   // per second, sent from the machine's address
        int kilobytesDown; // received at it
        bool holds;
    };
    const Case cases[] = {
        {"TRIGGER_TOTAL_UP_BANDWIDTH_LOW=2\n", 3, 0, true},
        {"TRIGGER_TOTAL_UP_BANDWIDTH_LOW=2\n", 0, 3, false},
        {"TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW=2\n", 0, 3, true},
        {"TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW=2\n", 3, 0, false},
        {"TRIGGER_TOTAL_UP_BANDWIDTH_HIGH=2\n", 3, 0, false},
        {"TRIGGER_TOTAL_UP_BANDWIDTH_HIGH=2\n", 0, 3, true},
        {"TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=2\n", 0, 3, false},
        {"TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=2\n", 3, 0, true},
        // Both bands at once: 3 up and 1 down lies in up 2..4 and down 0..1.
        {"TRIGGER_TOTAL_UP_BANDWIDTH_LOW=2\nTRIGGER_TOTAL_UP_BANDWIDTH_HIGH=4\n"
         "TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=1\n",
         3, 1, true},
        {"TRIGGER_TOTAL_UP_BANDWIDTH_LOW=2\nTRIGGER_TOTAL_UP_BANDWIDTH_HIGH=4\n"
         "TRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=1\n",
         1, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.condition) + " up " + std::to_string(c.kilobytesUp) + " down " +
                     std::to_string(c.kilobytesDown));
        Rig rig;
        ASSERT_TRUE(rig.start(targetWith(c.condition)));
        rig.session().startFiltering();
        for (int k = 0; k < c.kilobytesUp; ++k)
            rig.decide(PacketBuilder::udp(kLocal, 6666, kRemote, 40000).payload(kKilobytePayload));
        for (int k = 0; k < c.kilobytesDown; ++k)
            rig.decide(toLocal(5000, kKilobytePayload));
        rig.session().readCounters();
        rig.session().secondTick();
        rig.session().connectionTick();
        EXPECT_EQ(rig.overridden(), c.holds);
        // The override is what the daemon does: the target's traffic is dropped.
        EXPECT_EQ(rig.decide(toLocal(6666)), !c.holds);
    }
}

TEST(SessionConditions, AProcessConnectsOnlyWithAConnectionBeingMadeOrEstablished) {
    Rig rig;
    ASSERT_TRUE(rig.start(targetWith("TRIGGER_CONNECTING_PROCESS_NAME=" + programName() + "\n")));
    rig.session().startFiltering();
    // The table's rows, added one after the other: whether the process then counts
    // as connecting.
    struct Step {
        uint32_t state;
        int32_t pid;
        bool connecting;
    };
    const int32_t self = static_cast<int32_t>(::getpid());
    const Step steps[] = {
        {kTcpListening, self, false}, // a listener waits, it is not connected
        {kTcpTimeWait, self, false},  {kTcpCloseWait, self, false},
        {kTcpFinWait1, self, false},  {kTcpEstablished, 1, false}, // somebody else's connection
        {kTcpSynSent, self, true},
    };
    for (const Step& step : steps) {
        rig.addRow(step.state, step.pid);
        rig.session().connectionTick();
        EXPECT_EQ(rig.overridden(), step.connecting) << step.state;
    }
    for (uint32_t state : {kTcpSynReceived, kTcpEstablished}) {
        rig.m_rows->clear();
        rig.addRow(kTcpListening);
        rig.addRow(state);
        rig.session().connectionTick();
        EXPECT_TRUE(rig.overridden()) << state;
    }
}

TEST(SessionConditions, AHiddenWindowNeitherCountsConnectionBytesNorRedrawsThePage) {
    Rig rig;
    rig.addRow(kTcpEstablished); // kLocal:1000 to kRemote:40000
    ASSERT_TRUE(rig.start(common()));
    const auto packet = PacketBuilder::tcp(kRemote, 40000, kLocal, 1000).payload(100);
    auto received = [&] { return rig.m_network.connections().begin()->downBytes; };
    ASSERT_EQ(rig.m_network.connections().size(), 1u);

    struct Step {
        bool hidden;
        uint32_t bytesAfter; // the connection's received bytes after one packet
        int pageRefreshes;   // after one connection tick
    };
    const uint32_t wire = 20 + 20 + 100 + 14;
    const Step steps[] = {
        {false, wire, 1},
        {true, 0, 0},
        {false, wire, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.hidden ? "hidden" : "shown");
        rig.session().setHidden(step.hidden);
        rig.session().connectionTick(); // a fresh table: the counts start at 0
        const int before = rig.m_view.connectionPageRefreshes;
        rig.session().connectionTick();
        EXPECT_EQ(rig.m_view.connectionPageRefreshes - before, step.pageRefreshes);
        rig.decide(packet);
        rig.session().drainPackets();
        EXPECT_EQ(received(), step.bytesAfter);
    }
}

} // namespace
} // namespace tavrin::core
