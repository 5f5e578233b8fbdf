// NetworkInfo over tables the machine cannot produce on demand: two rows with equal
// endpoints, a failing read, rows without owners, crafted captured packets.
#include "NetworkInfo.h"
#include "OvlankProtocol.h"
#include "RecordingMessages.h"
#include "TableRecords.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace tavrin {
namespace {

using test::ip;
using test::record;
using test::row;

struct Script {
    std::vector<TcpRow> rows;
    bool fail = false;
};

class ScriptedTable final : public TcpTableSource {
public:
    ScriptedTable(Script& script, bool owners) : m_script(script), m_owners(owners) {}
    bool read(std::vector<TcpRow>& rows, std::string& error) override {
        if (m_script.fail) {
            error = "scripted failure";
            return false;
        }
        rows = m_script.rows;
        return true;
    }
    bool hasOwners() const override { return m_owners; }

private:
    Script& m_script;
    bool m_owners;
};

class ScriptedPorts final : public PortProcessMapper {
public:
    explicit ScriptedPorts(std::optional<PortProcessMap>& map) : m_map(map) {}
    std::optional<PortProcessMap> build(std::span<const TcpRow>) override { return m_map; }

private:
    std::optional<PortProcessMap>& m_map;
};

class NoNetwork final : public HostLookup {
public:
    std::optional<std::string> localHostName() override { return "here"; }
    bool resolvesToAddress(const std::string&) override { return true; }
    std::optional<HostEntry> reverse(uint32_t) override { return std::nullopt; }
};

struct Settings final : NetworkInfoSettings {
    bool mapping = true;
    bool systemCheck() const override { return false; }
    bool portProcessMapping() const override { return mapping; }
};

class NetworkInfoFixture : public ::testing::Test {
protected:
    // `withOwners`: the table comes from the owner source; else from the plain one.
    void make(bool withOwners) {
        NetworkInfo::Parts parts;
        if (withOwners)
            parts.ownerSource = std::make_unique<ScriptedTable>(m_script, true);
        parts.plainSource = std::make_unique<ScriptedTable>(m_script, false);
        parts.portMapper = std::make_unique<ScriptedPorts>(m_ports);
        parts.hostLookup = std::make_unique<NoNetwork>();
        m_info =
            std::make_unique<NetworkInfo>(m_messages, std::move(parts), NetworkInfo::Options{});
        m_info->selectSource(m_settings);
    }
    const TcpConnection* find(const char* local, uint16_t localPort, const char* remote,
                              uint16_t remotePort) const {
        // Only the endpoints of the key count.
        return m_info->connections().find(record(local, localPort, remote, remotePort));
    }

    Script m_script;
    std::optional<PortProcessMap> m_ports;
    Settings m_settings;
    test::RecordingMessages m_messages;
    std::unique_ptr<NetworkInfo> m_info;
};

TEST_F(NetworkInfoFixture, TwoRowsWithEqualEndpointsLeaveTheFirst) {
    make(true);
    m_script.rows = {row("10.0.0.1", 80, "10.0.0.2", 1025, kTcpTimeWait, -1),
                     row("10.0.0.1", 80, "10.0.0.2", 1025, kTcpEstablished, 300)};
    ASSERT_TRUE(m_info->refresh());
    ASSERT_EQ(m_info->connections().size(), 1u);
    EXPECT_EQ(m_info->connections()[0].state, kTcpTimeWait);
    EXPECT_EQ(m_info->connections()[0].processId, -1);
}

TEST_F(NetworkInfoFixture, AFailedReadFailsTheRefreshAndEmptiesTheTable) {
    make(true);
    m_script.rows = {row("10.0.0.1", 80, "10.0.0.2", 1025)};
    ASSERT_TRUE(m_info->refresh());
    ASSERT_TRUE(m_info->refresh());
    m_script.fail = true;
    EXPECT_FALSE(m_info->refresh());
    EXPECT_EQ(m_info->lastError(), "scripted failure");
    EXPECT_TRUE(m_info->connections().empty());
    // The table of the last good refresh is what came before.
    ASSERT_EQ(m_info->previousConnections().size(), 1u);
    EXPECT_EQ(m_info->previousConnections()[0].age, 1u);

    m_script.fail = false;
    EXPECT_TRUE(m_info->refresh());
    EXPECT_TRUE(m_info->lastError().empty());
    EXPECT_EQ(m_info->connections().size(), 1u);
}

TEST_F(NetworkInfoFixture, RecordsHaveNoRemotePortWithoutARemoteAddressAndClean16BitPorts) {
    make(true);
    TcpRow listening = row("0.0.0.0", 22, "0.0.0.0", 4711, kTcpListening);
    TcpRow dirty = row("10.0.0.1", 80, "10.0.0.2", 1025);
    dirty.localPort |= 0xABCD0000u; // bits the table may leave undefined
    dirty.remotePort |= 0x12340000u;
    m_script.rows = {listening, dirty};
    ASSERT_TRUE(m_info->refresh());
    const TcpConnection* l = find("0.0.0.0", 22, "0.0.0.0", 0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->remotePort, 0u);
    const TcpConnection* d = find("10.0.0.1", 80, "10.0.0.2", 1025);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->localPort, htons(80));
    EXPECT_EQ(d->remotePort, htons(1025));
}

ovlank::CaptureEntry packet(uint8_t protocol, const char* source, uint16_t sourcePort,
                            const char* destination, uint16_t destinationPort,
                            uint16_t totalLength) {
    ovlank::CaptureEntry entry{};
    entry.ruleIndex = -1;
    entry.length = 40;
    entry.ipHeader[0] = 0x45;
    entry.ipHeader[2] = static_cast<uint8_t>(totalLength >> 8);
    entry.ipHeader[3] = static_cast<uint8_t>(totalLength);
    entry.ipHeader[9] = protocol;
    const uint32_t s = ip(source);
    const uint32_t d = ip(destination);
    std::memcpy(entry.ipHeader + 12, &s, 4);
    std::memcpy(entry.ipHeader + 16, &d, 4);
    const uint16_t sp = htons(sourcePort);
    const uint16_t dp = htons(destinationPort);
    std::memcpy(entry.transport, &sp, 2);
    std::memcpy(entry.transport + 2, &dp, 2);
    return entry;
}

TEST_F(NetworkInfoFixture, PacketsCountAsSentOnTheirSourceElseAsReceivedOnTheirDestination) {
    make(true);
    m_script.rows = {row("10.0.0.2", 1025, "10.0.0.1", 80), row("10.0.0.1", 80, "10.0.0.2", 1025)};
    ASSERT_TRUE(m_info->refresh());
    const auto tcp = packet(6, "10.0.0.2", 1025, "10.0.0.1", 80, 40);
    m_info->accountPacket(tcp);
    EXPECT_EQ(find("10.0.0.2", 1025, "10.0.0.1", 80)->upBytes, 54u);
    EXPECT_EQ(find("10.0.0.2", 1025, "10.0.0.1", 80)->downBytes, 0u);
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->downBytes, 0u);

    // Without the sender's record the packet is received on the other end.
    m_script.rows = {row("10.0.0.1", 80, "10.0.0.2", 1025)};
    ASSERT_TRUE(m_info->refresh());
    m_info->accountPacket(tcp);
    m_info->accountPacket(packet(6, "10.0.0.1", 80, "10.0.0.2", 1025, 1500));
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->downBytes, 54u);
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->upBytes, 1514u);

    // Counted nowhere: UDP, unknown connections, entries without ports or claiming
    // more bytes than they hold, later fragments.
    m_info->accountPacket(packet(17, "10.0.0.2", 1025, "10.0.0.1", 80, 40));
    m_info->accountPacket(packet(6, "10.0.0.3", 1025, "10.0.0.1", 80, 40));
    auto shortEntry = tcp;
    shortEntry.length = 23;
    m_info->accountPacket(shortEntry);
    auto longEntry = tcp;
    longEntry.length = 41;
    m_info->accountPacket(longEntry);
    auto fragment = tcp;
    fragment.ipHeader[7] = 0x10;
    m_info->accountPacket(fragment);
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->downBytes, 54u);
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->upBytes, 1514u);

    // The period's counts become the last period's at the next refresh.
    ASSERT_TRUE(m_info->refresh());
    const TcpConnection* next = find("10.0.0.1", 80, "10.0.0.2", 1025);
    EXPECT_EQ(next->lastDownBytes, 54u);
    EXPECT_EQ(next->lastUpBytes, 1514u);
    EXPECT_EQ(next->upBytes + next->downBytes, 0u);
}

TEST_F(NetworkInfoFixture, PacketsForAListenerMatchItsEmptyRemoteEnd) {
    make(true);
    m_script.rows = {row("10.0.0.1", 80, "0.0.0.0", 0, kTcpListening)};
    ASSERT_TRUE(m_info->refresh());
    // A packet to 0.0.0.0 counts on the record whose remote end is 0.0.0.0:0,
    // whatever its destination port says.
    m_info->accountPacket(packet(6, "10.0.0.1", 80, "0.0.0.0", 999, 60));
    EXPECT_EQ(find("10.0.0.1", 80, "0.0.0.0", 0)->upBytes, 74u);
}

TEST_F(NetworkInfoFixture, ByteCountsStopAtTheirLargestValue) {
    make(true);
    m_script.rows = {row("10.0.0.2", 1025, "10.0.0.1", 80)};
    ASSERT_TRUE(m_info->refresh());
    const auto big = packet(6, "10.0.0.2", 1025, "10.0.0.1", 80, 65535);
    // 65,549 bytes each: 65,600 of them pass 2^32.
    for (int i = 0; i < 65600; ++i)
        m_info->accountPacket(big);
    EXPECT_EQ(find("10.0.0.2", 1025, "10.0.0.1", 80)->upBytes,
              std::numeric_limits<uint32_t>::max());
}

TEST_F(NetworkInfoFixture, PlainTableTakesOwnersFromThePortMapWhenMappingIsOn) {
    make(false);
    EXPECT_FALSE(m_info->ownerSourceInUse());
    m_script.rows = {row("10.0.0.1", 80, "0.0.0.0", 0, kTcpListening),
                     row("10.0.0.1", 80, "10.0.0.2", 1025), row("10.0.0.1", 22, "10.0.0.2", 1026)};
    m_ports = PortProcessMap{{htons(80), 4242}};
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(find("10.0.0.1", 80, "0.0.0.0", 0)->processId, 4242);
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->processId, 4242);
    EXPECT_EQ(find("10.0.0.1", 22, "10.0.0.2", 1026)->processId, -1);

    m_settings.mapping = false;
    ASSERT_TRUE(m_info->refresh());
    for (const TcpConnection& c : *m_info)
        EXPECT_EQ(c.processId, -1);

    m_settings.mapping = true;
    m_ports = PortProcessMap{};
    ASSERT_TRUE(m_info->refresh());
    for (const TcpConnection& c : *m_info)
        EXPECT_EQ(c.processId, -1);
    m_ports.reset(); // no map at all: the refresh still succeeds
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(m_info->connections().size(), 3u);
    for (const TcpConnection& c : *m_info)
        EXPECT_EQ(c.processId, -1);
}

TEST_F(NetworkInfoFixture, OwnerTableIsUsedWhereverItExistsAndNeedsNoPortMap) {
    make(true);
    EXPECT_TRUE(m_info->ownerSourceInUse());
    m_script.rows = {row("10.0.0.1", 80, "10.0.0.2", 1025, kTcpEstablished, 17)};
    m_ports = PortProcessMap{{htons(80), 4242}};
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(find("10.0.0.1", 80, "10.0.0.2", 1025)->processId, 17);
    EXPECT_EQ(m_info->cutConnection(m_info->connections()[0]), ENOTSUP);
    EXPECT_TRUE(m_messages.texts().empty());
}

} // namespace
} // namespace tavrin
