// Packets between two namespaces through the real daemon: what passes, what is
// dropped, what is recorded and counted.
#include "DaemonFixture.h"
#include "Traffic.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace ovlank::test {
namespace {

struct Captured {
    int32_t ruleIndex;
    uint32_t length;
    std::vector<uint8_t> ip;
    std::vector<uint8_t> transport;
    uint8_t protocol() const { return ip[9]; }
    uint16_t port(size_t offset) const {
        return static_cast<uint16_t>(transport[offset] << 8 | transport[offset + 1]);
    }
    uint32_t word(size_t offset) const {
        return uint32_t{transport[offset]} << 24 | uint32_t{transport[offset + 1]} << 16 |
               uint32_t{transport[offset + 2]} << 8 | transport[offset + 3];
    }
};

std::vector<Captured> drainCapture(OvlankClient& client) {
    std::vector<Captured> entries;
    for (int i = 0; i < 5000; ++i) {
        auto bytes = client.packet();
        if (!bytes || bytes->empty()) {
            break;
        }
        Captured entry;
        std::memcpy(&entry.ruleIndex, bytes->data(), 4);
        std::memcpy(&entry.length, bytes->data() + 4, 4);
        EXPECT_EQ(bytes->size(), 8 + entry.length);
        if (bytes->size() < 28) {
            continue;
        }
        entry.ip.assign(bytes->begin() + 8, bytes->begin() + 28);
        entry.transport.assign(bytes->begin() + 28, bytes->end());
        entries.push_back(entry);
    }
    return entries;
}

using Filtering = DaemonFixture;

TEST_F(Filtering, MonitorOnlyPassesEverythingAndRecordsHeaders) {
    startHook();
    const auto& hosts = *m_hosts;

    // TCP: a connection from A to B and 1000 bytes across it.
    const int listener = tcpListener(hosts.nsB(), hosts.addressB(), 5001);
    ASSERT_GE(listener, 0);
    const int client = tcpConnect(hosts.nsA(), hosts.addressB(), 5001, 3000);
    ASSERT_GE(client, 0);
    const uint16_t clientPort = localPort(client);
    const int server = acceptWithin(listener, 3000);
    ASSERT_GE(server, 0);
    std::vector<uint8_t> data(1000, 7);
    ASSERT_TRUE(sendAll(client, data.data(), data.size()));
    EXPECT_EQ(receiveBytes(server, data.size(), 3000), data.size());

    // UDP both ways, and ICMP.
    const int udpA = udpSocket(hosts.nsA(), hosts.addressA(), 6001);
    const int udpB = udpSocket(hosts.nsB(), hosts.addressB(), 6002);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(sendDatagram(udpA, hosts.addressB(), 6002, 4));
        ASSERT_TRUE(sendDatagram(udpB, hosts.addressA(), 6001, 100));
    }
    EXPECT_EQ(receiveDatagrams(udpB, 5, 2000), 5u);
    EXPECT_EQ(receiveDatagrams(udpA, 5, 2000), 5u);
    const auto ping = runCommand({"ip", "netns", "exec", hosts.nsA(), "ping", "-c", "2", "-i",
                                  "0.2", "-W", "2", hosts.addressB()});
    EXPECT_EQ(ping.exitCode, 0) << ping.output << ping.errors;

    const auto entries = drainCapture(*m_client);
    size_t tcp = 0, udpOut = 0, udpIn = 0, icmp = 0;
    uint32_t synSequence = 0;
    bool sawSyn = false, sawSynAck = false, sawData = false;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.ruleIndex, -1);
        if (entry.protocol() == kProtocolTcp) {
            ++tcp;
            EXPECT_EQ(entry.length, 40u); // 20 IP + 20 TCP, read back as 48 bytes
            const uint8_t flags = entry.transport[13];
            if (flags == kTcpFlagSyn && entry.port(0) == clientPort) {
                sawSyn = true;
                synSequence = entry.word(4);
            } else if (flags == (kTcpFlagSyn | kTcpFlagAck) && entry.port(2) == clientPort) {
                sawSynAck = true;
                EXPECT_EQ(entry.word(8), synSequence + 1); // acknowledges the real SYN
            } else if (entry.port(0) == clientPort && (flags & 0x08) != 0 && !sawData) {
                sawData = true;
                EXPECT_EQ(entry.word(4), synSequence + 1); // the first data byte
            }
        } else if (entry.protocol() == kProtocolUdp) {
            const uint16_t totalLength = static_cast<uint16_t>(entry.ip[2] << 8 | entry.ip[3]);
            if (entry.port(2) == 6002) {
                ++udpOut;
                EXPECT_EQ(entry.length, 32u); // 20 + 8 + the datagram's 4 bytes
                EXPECT_EQ(totalLength, 32);
            } else if (entry.port(2) == 6001) {
                ++udpIn;
                EXPECT_EQ(totalLength, 128);
            }
        } else if (entry.protocol() == kProtocolIcmp) {
            ++icmp;
        }
    }
    EXPECT_TRUE(sawSyn && sawSynAck && sawData) << sawSyn << sawSynAck << sawData;
    EXPECT_GE(tcp, 4u);
    EXPECT_EQ(udpOut, 5u);
    EXPECT_EQ(udpIn, 5u);
    EXPECT_EQ(icmp, 4u); // two requests out, two replies in
    for (int fd : {listener, client, server, udpA, udpB}) {
        ::close(fd);
    }
}

TEST_F(Filtering, UdpRuleDropsItsPortOnlyWhileFilteringIsOn) {
    DriverRule rule = makeRule(kProtocolUdp, 0, 7001);
    rule.block = 1;
    ASSERT_EQ(m_client->addFilter(rule), STATUS_SUCCESS);
    startHook();
    const auto& hosts = *m_hosts;
    const int sender = udpSocket(hosts.nsA(), hosts.addressA(), 0);
    const int blocked = udpSocket(hosts.nsB(), hosts.addressB(), 7001);
    const int open = udpSocket(hosts.nsB(), hosts.addressB(), 7002);

    auto round = [&](size_t& toBlocked, size_t& toOpen) {
        for (int i = 0; i < 10; ++i) {
            sendDatagram(sender, hosts.addressB(), 7001, 64);
            sendDatagram(sender, hosts.addressB(), 7002, 64);
        }
        toOpen = receiveDatagrams(open, 10, 1500);
        toBlocked = receiveDatagrams(blocked, 10, 300);
    };
    size_t toBlocked = 0, toOpen = 0;
    round(toBlocked, toOpen);
    EXPECT_EQ(toBlocked, 10u);
    EXPECT_EQ(toOpen, 10u);

    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    round(toBlocked, toOpen);
    EXPECT_EQ(toBlocked, 0u);
    EXPECT_EQ(toOpen, 10u);

    ASSERT_EQ(m_client->simple(STOP_FILTERING), STATUS_SUCCESS);
    round(toBlocked, toOpen);
    EXPECT_EQ(toBlocked, 10u);
    EXPECT_EQ(toOpen, 10u);
    for (int fd : {sender, blocked, open}) {
        ::close(fd);
    }
}

TEST_F(Filtering, ConnectionRequestsOnlyStopsNewConnectionsButNotAnswers) {
    const auto& hosts = *m_hosts;
    // Rule 0: new connections from A to B:8001. Rule 1: anything A sends from its
    // port 8002, which includes the SYN+ACK answering a connection from B.
    DriverRule outgoing = makeRule(kProtocolTcp, 0, 8001);
    outgoing.block = 1;
    outgoing.connectionRequestsOnly = 1;
    DriverRule answers = makeRule(kProtocolTcp, 8002, 0);
    answers.block = 1;
    answers.connectionRequestsOnly = 1;
    ASSERT_EQ(m_client->addFilter(outgoing), STATUS_SUCCESS);
    ASSERT_EQ(m_client->addFilter(answers), STATUS_SUCCESS);
    startHook();

    const int listenerB = tcpListener(hosts.nsB(), hosts.addressB(), 8001);
    const int listenerA = tcpListener(hosts.nsA(), hosts.addressA(), 8002);
    const int established = tcpConnect(hosts.nsA(), hosts.addressB(), 8001, 3000);
    ASSERT_GE(established, 0);
    const int peer = acceptWithin(listenerB, 3000);
    ASSERT_GE(peer, 0);

    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    EXPECT_LT(tcpConnect(hosts.nsA(), hosts.addressB(), 8001, 1500), 0);

    const char message[] = "still here";
    ASSERT_TRUE(sendAll(established, message, sizeof(message)));
    EXPECT_EQ(receiveBytes(peer, sizeof(message), 3000), sizeof(message));
    ASSERT_TRUE(sendAll(peer, message, sizeof(message)));
    EXPECT_EQ(receiveBytes(established, sizeof(message), 3000), sizeof(message));

    const int inbound = tcpConnect(hosts.nsB(), hosts.addressA(), 8002, 3000);
    EXPECT_GE(inbound, 0) << "the SYN+ACK of host A was dropped";
    const int accepted = acceptWithin(listenerA, 3000);
    EXPECT_GE(accepted, 0);
    for (int fd : {listenerA, listenerB, established, peer, inbound, accepted}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

TEST_F(Filtering, CountersMatchTheBytesSent) {
    ASSERT_EQ(m_client->addFilter(makeRule(kProtocolUdp, 0, 9001)), STATUS_SUCCESS);
    startHook();
    const auto& hosts = *m_hosts;
    const int a = udpSocket(hosts.nsA(), hosts.addressA(), 9002);
    const int b = udpSocket(hosts.nsB(), hosts.addressB(), 9001);
    ASSERT_TRUE(m_client->clearBandwidth(1)); // start from zero

    constexpr int kOut = 200, kIn = 150;
    constexpr size_t kOutPayload = 300, kInPayload = 700;
    // In steps of 10, read as they go, so no receive buffer overflows.
    size_t arrivedOut = 0, arrivedIn = 0;
    for (int step = 0; step < kOut / 10; ++step) {
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(sendDatagram(a, hosts.addressB(), 9001, kOutPayload));
        }
        arrivedOut += receiveDatagrams(b, 10, 2000);
    }
    for (int step = 0; step < kIn / 10; ++step) {
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(sendDatagram(b, hosts.addressA(), 9002, kInPayload));
        }
        arrivedIn += receiveDatagrams(a, 10, 2000);
    }
    EXPECT_EQ(arrivedOut, size_t{kOut});
    EXPECT_EQ(arrivedIn, size_t{kIn});
    const auto counters = m_client->clearBandwidth(1);
    ASSERT_TRUE(counters);
    ASSERT_EQ(counters->size(), 3u);
    // Everything has arrived, so nothing is in flight: the counts are exact.
    EXPECT_EQ((*counters)[0], kOut * udpWireSize(kOutPayload));
    EXPECT_EQ((*counters)[1], kOut * udpWireSize(kOutPayload));
    EXPECT_EQ((*counters)[2], kIn * udpWireSize(kInPayload));
    const auto cleared = m_client->clearBandwidth(1);
    ASSERT_TRUE(cleared);
    EXPECT_EQ(*cleared, (std::vector<uint32_t>{0, 0, 0}));
    ::close(a);
    ::close(b);
}

} // namespace
} // namespace ovlank::test
