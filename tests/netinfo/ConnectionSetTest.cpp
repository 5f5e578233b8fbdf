#include "TableRecords.h"
#include "TcpConnection.h"
#include "TcpTableSource.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <vector>

namespace tavrin {
namespace {

using test::ip;
using test::record;

std::vector<uint16_t> localPorts(const ConnectionSet& set) {
    std::vector<uint16_t> out;
    for (const TcpConnection& c : set)
        out.push_back(ntohs(static_cast<uint16_t>(c.localPort)));
    return out;
}

TEST(ConnectionSet, OrdersByHostOrderLocalPortThenStoredValues) {
    ConnectionSet set;
    // Port 256 is stored as 0x0001 and port 80 as 0x5000: only the host-order port
    // puts 80 first.
    set.assign({
        record("10.0.0.1", 256, "10.0.0.9", 1),
        record("10.0.0.1", 80, "10.0.0.9", 2),
        record("10.0.0.1", 443, "10.0.0.9", 3),
        record("10.0.0.2", 80, "10.0.0.9", 4),
    });
    EXPECT_EQ(localPorts(set), (std::vector<uint16_t>{80, 80, 256, 443}));

    // Behind the first key the stored values count: 10.0.0.1 is stored as 0x0100000A
    // and 10.0.0.2 as 0x0200000A; remote port 256 as 0x0001, 1 as 0x0100, 2 as 0x0200;
    // 10.0.0.9 as 0x0900000A and 9.0.0.10 as 0x0A000009.
    ConnectionSet same;
    same.assign({
        record("10.0.0.2", 80, "10.0.0.9", 1),
        record("10.0.0.1", 80, "10.0.0.9", 2),
        record("10.0.0.1", 80, "10.0.0.9", 1),
        record("10.0.0.1", 80, "10.0.0.9", 256),
        record("10.0.0.1", 80, "9.0.0.10", 256),
    });
    ASSERT_EQ(same.size(), 5u);
    EXPECT_EQ(same[0].localAddr, ip("10.0.0.1"));
    EXPECT_EQ(same[0].remotePort, htons(256));
    EXPECT_EQ(same[0].remoteAddr, ip("10.0.0.9")); // 0x0900000A < 0x0A000009
    EXPECT_EQ(same[1].remoteAddr, ip("9.0.0.10"));
    EXPECT_EQ(same[2].remotePort, htons(1));
    EXPECT_EQ(same[3].remotePort, htons(2));
    EXPECT_EQ(same[4].localAddr, ip("10.0.0.2"));
}

TEST(ConnectionSet, IdentityIsTheEndpointsAndTheFirstRecordStays) {
    ConnectionSet set;
    set.assign({
        record("10.0.0.1", 80, "10.0.0.2", 1025, kTcpTimeWait, -1),
        record("10.0.0.1", 80, "10.0.0.2", 1025, kTcpEstablished, 42),
        record("10.0.0.1", 80, "10.0.0.2", 1026, kTcpEstablished, 42),
    });
    ASSERT_EQ(set.size(), 2u);
    const TcpConnection* kept = set.find(record("10.0.0.1", 80, "10.0.0.2", 1025, 0, 7));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->state, kTcpTimeWait);
    EXPECT_EQ(kept->processId, -1);

    EXPECT_FALSE(set.insert(record("10.0.0.1", 80, "10.0.0.2", 1025, kTcpListening, 1)));
    EXPECT_EQ(set.find(record("10.0.0.1", 80, "10.0.0.2", 1025))->state, kTcpTimeWait);
    EXPECT_TRUE(set.insert(record("10.0.0.1", 22, "10.0.0.2", 1025)));
    EXPECT_EQ(localPorts(set), (std::vector<uint16_t>{22, 80, 80}));

    EXPECT_EQ(set.find(record("10.0.0.1", 80, "10.0.0.3", 1025)), nullptr);
    EXPECT_EQ(set.find(record("10.0.0.1", 81, "10.0.0.2", 1025)), nullptr);
}

TEST(ConnectionSet, CarryOverGivesAgeAndLastPeriodBytesBySameConnection) {
    ConnectionSet previous;
    TcpConnection old = record("10.0.0.1", 80, "10.0.0.2", 1025, kTcpEstablished);
    old.age = 6;
    old.upBytes = 1000;
    old.downBytes = 2000;
    old.lastUpBytes = 5;
    TcpConnection other = record("10.0.0.1", 22, "10.0.0.3", 5000);
    other.upBytes = 77;
    previous.assign({old, other});

    ConnectionSet current;
    // The state changed and the owner is new: still the same connection.
    current.assign({record("10.0.0.1", 80, "10.0.0.2", 1025, kTcpCloseWait, 9),
                    record("10.0.0.1", 80, "10.0.0.2", 1026)});
    current.carryOver(previous);

    const TcpConnection* carried = current.find(old);
    ASSERT_NE(carried, nullptr);
    EXPECT_EQ(carried->age, 7u);
    EXPECT_EQ(carried->lastUpBytes, 1000u);
    EXPECT_EQ(carried->lastDownBytes, 2000u);
    EXPECT_EQ(carried->upBytes, 0u);
    EXPECT_EQ(carried->state, kTcpCloseWait);

    const TcpConnection* fresh = current.find(record("10.0.0.1", 80, "10.0.0.2", 1026));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->age, 0u);
    EXPECT_EQ(fresh->lastUpBytes, 0u);
    EXPECT_EQ(fresh->lastDownBytes, 0u);
}

TEST(TcpState, TextsAndKernelTranslation) {
    const char* const texts[] = {"???",         "CLOSED",    "LISTENING", "SYN_SENT",   "SYN_RCVD",
                                 "ESTABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
                                 "LAST_ACK",    "TIME_WAIT", "DELETE_TCB"};
    for (uint32_t state = 0; state <= 12; ++state)
        EXPECT_EQ(tcpStateText(state), texts[state]) << state;
    EXPECT_EQ(tcpStateText(13), "???");
    EXPECT_EQ(tcpStateText(0xFFFFFFFF), "???");

    // The kernel's numbers: ESTABLISHED 1 ... CLOSING 11, NEW_SYN_RECV 12.
    const uint32_t expected[] = {0,
                                 kTcpEstablished,
                                 kTcpSynSent,
                                 kTcpSynReceived,
                                 kTcpFinWait1,
                                 kTcpFinWait2,
                                 kTcpTimeWait,
                                 kTcpClosed,
                                 kTcpCloseWait,
                                 kTcpLastAck,
                                 kTcpListening,
                                 kTcpClosing,
                                 kTcpSynReceived};
    for (unsigned kernel = 0; kernel <= 12; ++kernel)
        EXPECT_EQ(translateKernelTcpState(kernel), expected[kernel]) << kernel;
    EXPECT_EQ(translateKernelTcpState(13), 0u);
    EXPECT_EQ(translateKernelTcpState(255), 0u);
}

} // namespace
} // namespace tavrin
