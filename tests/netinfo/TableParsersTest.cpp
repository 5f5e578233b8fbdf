// The two readers of kernel output: the text table and the netlink dump replies.
#include "ProcNetTcpTable.h"
#include "SockDiag.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tavrin {
namespace {

std::string readData(const char* name) {
    std::ifstream in(std::string(test::kDataDir) + "/netinfo/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ProcNetTcp, ReadsEveryKindOfLineTheKernelWrites) {
    std::vector<TcpRow> entries;
    std::string error;
    ASSERT_TRUE(parseProcNetTcp(readData("proc_net_tcp.txt"), ProcTcpFile::tcp, entries, error))
        << error;
    ASSERT_EQ(entries.size(), 7u);

    const TcpRow& any22 = entries[0];
    EXPECT_EQ(any22.state, kTcpListening);
    EXPECT_EQ(any22.localAddr, 0u);
    EXPECT_EQ(any22.localPort, htons(22));
    EXPECT_EQ(entries[0].inode, 42999u);

    const TcpRow& client = entries[2];
    EXPECT_EQ(client.state, kTcpEstablished);
    EXPECT_EQ(client.localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(client.localPort, htons(0x9CE2));
    EXPECT_EQ(client.remoteAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(client.remotePort, htons(8080));
    EXPECT_EQ(client.processId, -1);

    // A closed socket waiting for its peer, no longer held: inode 0.
    EXPECT_EQ(entries[3].state, kTcpFinWait2);
    EXPECT_EQ(entries[3].inode, 0u);
    EXPECT_EQ(entries[4].state, kTcpCloseWait);
    EXPECT_EQ(entries[6].state, kTcpTimeWait);
    EXPECT_EQ(entries[6].remotePort, htons(0xE3DC));

    // tcp6 of a listener on :: taking IPv4 with one IPv4 connection to it, and a
    // listener taking IPv6 alone with one connection over ::1: only the mapped
    // connection carries IPv4 for sure.
    ASSERT_TRUE(parseProcNetTcp(readData("proc_net_tcp6.txt"), ProcTcpFile::tcp6, entries, error))
        << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, kTcpEstablished);
    EXPECT_EQ(entries[0].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(entries[0].localPort, htons(8080));
    EXPECT_EQ(entries[0].remoteAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(entries[0].remotePort, htons(0xA458));
    EXPECT_EQ(entries[0].inode, 301194u);
    EXPECT_TRUE(entries[0].socket.ipv6);
}

TEST(ProcNetTcp, RefusesMalformedLinesNamingTheLine) {
    const std::string heading =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n";
    const std::string good =
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0  "
        "      0 42998 1 0000000000000000 100 0 0 10 0\n";
    struct Case {
        std::string line;
        const char* error;
    };
    const Case cases[] = {
        {"   1: 0100007F:1F90 00000000:0000 0A 00000000:00000000\n", "line 3: too few fields"},
        {"   1 0100007F:1F90 00000000:0000 0A 0:0 0:0 0 0 0 1\n", "line 3: bad slot number"},
        {"   1: 100007F:1F90 00000000:0000 0A 0:0 0:0 0 0 0 1\n", "line 3: bad local address"},
        {"   1: 0100007F-1F90 00000000:0000 0A 0:0 0:0 0 0 0 1\n", "line 3: bad local address"},
        {"   1: 0100007F:1F90 00000000:00G0 0A 0:0 0:0 0 0 0 1\n", "line 3: bad remote address"},
        {"   1: 0100007F:1F90 00000000:0000 10A 0:0 0:0 0 0 0 1\n", "line 3: bad state"},
        {"   1: 0100007F:1F90 00000000:0000 0A 0:0 0:0 0 0 0 -1\n", "line 3: bad inode"},
        {"   1: 0100007F:1F90 00000000:0000 0A 0:0 0:0 0 0 0 99999999999999999999\n",
         "line 3: bad inode"},
        // An IPv6 address in the IPv4 table.
        {"   1: 0000000000000000FFFF00000100007F:1F90 00000000:0000 0A 0:0 0:0 0 0 0 1\n",
         "line 3: bad local address"},
    };
    for (const Case& c : cases) {
        std::vector<TcpRow> entries;
        std::string error;
        EXPECT_FALSE(parseProcNetTcp(heading + good + c.line, ProcTcpFile::tcp, entries, error))
            << c.line;
        EXPECT_EQ(error, c.error) << c.line;
        EXPECT_EQ(entries.size(), 1u);
    }
    // A table with nothing in it, a missing last newline, and blank lines are fine.
    std::vector<TcpRow> entries;
    std::string error;
    EXPECT_TRUE(parseProcNetTcp(heading, ProcTcpFile::tcp, entries, error));
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(parseProcNetTcp(heading + "\n" + good.substr(0, good.size() - 1), ProcTcpFile::tcp,
                                entries, error));
    EXPECT_EQ(entries.size(), 1u);
}

// A dump reply as the kernel frames it: messages back to back, each 4-byte aligned.
class Reply {
public:
    Reply& socket(uint32_t sequence, uint8_t family, uint8_t state, const char* local,
                  uint16_t localPort, uint32_t inode, size_t payloadSize = sizeof(inet_diag_msg)) {
        inet_diag_msg diag{};
        diag.idiag_family = family;
        diag.idiag_state = state;
        diag.id.idiag_sport = htons(localPort);
        diag.id.idiag_src[0] = inet_addr(local);
        diag.idiag_inode = inode;
        diag.idiag_uid = 1000;
        std::vector<unsigned char> payload(payloadSize);
        std::memcpy(payload.data(), &diag, std::min(payloadSize, sizeof(diag)));
        return message(SOCK_DIAG_BY_FAMILY, sequence, payload);
    }
    // An IPv6 socket on port 8080 with these addresses (four stored words each), bound
    // to device 3, and `attributes` behind its record as the kernel appends them.
    Reply& socket6(uint32_t sequence, uint8_t state, const std::array<uint32_t, 4>& local,
                   const std::array<uint32_t, 4>& remote,
                   const std::vector<unsigned char>& attributes = {}) {
        inet_diag_msg diag{};
        diag.idiag_family = AF_INET6;
        diag.idiag_state = state;
        diag.id.idiag_sport = htons(8080);
        std::memcpy(diag.id.idiag_src, local.data(), sizeof(diag.id.idiag_src));
        std::memcpy(diag.id.idiag_dst, remote.data(), sizeof(diag.id.idiag_dst));
        diag.id.idiag_if = 3;
        diag.id.idiag_cookie[0] = 0x11223344;
        diag.id.idiag_cookie[1] = 0x55667788;
        diag.idiag_inode = 77;
        std::vector<unsigned char> payload(sizeof(diag));
        std::memcpy(payload.data(), &diag, sizeof(diag));
        payload.insert(payload.end(), attributes.begin(), attributes.end());
        return message(SOCK_DIAG_BY_FAMILY, sequence, payload);
    }
    Reply& done(uint32_t sequence, int status) {
        std::vector<unsigned char> payload(sizeof(int));
        std::memcpy(payload.data(), &status, sizeof(int));
        return message(NLMSG_DONE, sequence, payload);
    }
    Reply& error(uint32_t sequence, int status) {
        nlmsgerr e{};
        e.error = status;
        std::vector<unsigned char> payload(sizeof(e));
        std::memcpy(payload.data(), &e, sizeof(e));
        return message(NLMSG_ERROR, sequence, payload);
    }
    Reply& message(uint16_t type, uint32_t sequence, const std::vector<unsigned char>& payload) {
        nlmsghdr head{};
        head.nlmsg_len = static_cast<uint32_t>(sizeof(head) + payload.size());
        head.nlmsg_type = type;
        head.nlmsg_seq = sequence;
        const size_t at = m_bytes.size();
        m_bytes.resize(at + ((head.nlmsg_len + 3) & ~3u));
        std::memcpy(m_bytes.data() + at, &head, sizeof(head));
        std::memcpy(m_bytes.data() + at + sizeof(head), payload.data(), payload.size());
        return *this;
    }
    std::vector<unsigned char>& bytes() { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

TEST(SockDiagReply, TakesTheSocketsOfItsOwnRequestUntilDone) {
    Reply reply;
    reply.socket(7, AF_INET, 10, "127.0.0.1", 8080, 555)
        .socket(6, AF_INET, 1, "127.0.0.1", 1, 1) // an earlier request's leftovers
        .socket(7, AF_INET6, 1, "127.0.0.1", 2, 2)
        .socket(7, AF_INET, 1, "10.0.0.1", 40000, 556);
    std::vector<DiagTcpSocket> sockets;
    DiagBatchResult result = parseTcpDumpBatch(reply.bytes(), 7, sockets);
    EXPECT_FALSE(result.done);
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_EQ(sockets[0].kernelState, 10);
    EXPECT_EQ(sockets[0].localPort, htons(8080));
    EXPECT_EQ(sockets[0].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[0].inode, 555u);
    EXPECT_EQ(sockets[1].localAddr, inet_addr("10.0.0.1"));

    Reply end;
    end.done(6, -EINVAL).done(7, 0);
    result = parseTcpDumpBatch(end.bytes(), 7, sockets);
    EXPECT_TRUE(result.done);
    EXPECT_EQ(result.error, 0);

    Reply failed;
    failed.done(7, -EINTR);
    EXPECT_EQ(parseTcpDumpBatch(failed.bytes(), 7, sockets).error, EINTR);
    Reply refused;
    refused.error(7, -EPERM);
    EXPECT_EQ(parseTcpDumpBatch(refused.bytes(), 7, sockets).error, EPERM);
    EXPECT_EQ(parseAckBatch(refused.bytes(), 7).error, EPERM);
    Reply acknowledged;
    acknowledged.error(7, 0);
    result = parseAckBatch(acknowledged.bytes(), 7);
    EXPECT_TRUE(result.done);
    EXPECT_EQ(result.error, 0);
    EXPECT_FALSE(parseAckBatch(acknowledged.bytes(), 8).done);
}

// The kernel's IPV6_V6ONLY attribute with its padding.
std::vector<unsigned char> v6onlyAttribute(unsigned char value) {
    const uint16_t header[2] = {5, INET_DIAG_SKV6ONLY};
    std::vector<unsigned char> bytes(8);
    std::memcpy(bytes.data(), header, sizeof(header));
    bytes[4] = value;
    return bytes;
}

TEST(SockDiagReply, KeepsTheIPv6SocketsThatCarryIPv4) {
    const uint32_t mapped = htonl(0xFFFF);
    const std::array<uint32_t, 4> any{};
    const std::array<uint32_t, 4> local{0, 0, mapped, inet_addr("127.0.0.1")};
    const std::array<uint32_t, 4> remote{0, 0, mapped, inet_addr("10.0.0.2")};
    const std::array<uint32_t, 4> loopback6{0, 0, 0, htonl(1)};
    Reply reply;
    reply.socket6(1, 1, local, remote)
        .socket6(1, 10, any, any, v6onlyAttribute(0))
        .socket6(1, 10, any, any, v6onlyAttribute(1)) // takes IPv6 alone
        .socket6(1, 10, any, any)                     // says nothing: taken as IPv6 alone
        .socket6(1, 1, loopback6, loopback6)
        .socket6(1, 10, local, any); // listening on a mapped address
    std::vector<DiagTcpSocket> sockets;
    EXPECT_EQ(parseTcpDumpBatch(reply.bytes(), 1, sockets).error, 0);
    ASSERT_EQ(sockets.size(), 3u);
    EXPECT_EQ(sockets[0].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[0].remoteAddr, inet_addr("10.0.0.2"));
    EXPECT_EQ(sockets[0].localPort, htons(8080));
    EXPECT_EQ(sockets[0].inode, 77u);
    EXPECT_EQ(sockets[1].kernelState, 10);
    EXPECT_EQ(sockets[1].localAddr, 0u);
    EXPECT_EQ(sockets[1].remoteAddr, 0u);
    EXPECT_EQ(sockets[2].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[2].remoteAddr, 0u);
    for (const DiagTcpSocket& socket : sockets) {
        EXPECT_TRUE(socket.id.ipv6);
        EXPECT_EQ(socket.id.interface, 3u);
        EXPECT_EQ(socket.id.cookie, 0x5566778811223344u);
    }

    // An attribute longer than what is left of its message.
    std::vector<unsigned char> overlong = v6onlyAttribute(0);
    overlong[0] = 9;
    Reply bad;
    bad.socket6(1, 10, any, any, overlong);
    EXPECT_EQ(parseTcpDumpBatch(bad.bytes(), 1, sockets).error, EPROTO);
}

TEST(SockDiagReply, ReadsADatagramTheKernelSent) {
    // Sequence number (4 bytes), then a dump datagram: a listener on 127.0.0.1:8080
    // and both ends of one connection to it.
    const std::string bytes = readData("sock_diag_dump.bin");
    ASSERT_GT(bytes.size(), 4u);
    uint32_t sequence = 0;
    std::memcpy(&sequence, bytes.data(), 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<DiagTcpSocket> sockets;
    const DiagBatchResult result =
        parseTcpDumpBatch(std::span(data + 4, bytes.size() - 4), sequence, sockets);
    EXPECT_FALSE(result.done);
    EXPECT_EQ(result.error, 0);
    ASSERT_EQ(sockets.size(), 3u);
    EXPECT_EQ(sockets[0].kernelState, 10); // LISTEN
    EXPECT_EQ(sockets[0].localPort, htons(8080));
    EXPECT_EQ(sockets[0].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[0].remoteAddr, 0u);
    size_t toListener = 0;
    for (const DiagTcpSocket& s : sockets) {
        EXPECT_NE(s.inode, 0u);
        toListener += s.kernelState == 1 && s.remotePort == htons(8080) ? 1 : 0;
    }
    EXPECT_EQ(toListener, 1u);

    // An IPv6 dump: the listener on :: taking IPv4 and the IPv4 connection it
    // accepted; a listener taking IPv6 alone and a connection over ::1 are left out.
    const std::string bytes6 = readData("sock_diag_dump6.bin");
    ASSERT_GT(bytes6.size(), 4u);
    std::memcpy(&sequence, bytes6.data(), 4);
    const auto* data6 = reinterpret_cast<const unsigned char*>(bytes6.data());
    sockets.clear();
    EXPECT_EQ(parseTcpDumpBatch(std::span(data6 + 4, bytes6.size() - 4), sequence, sockets).error,
              0);
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_EQ(sockets[0].kernelState, 10);
    EXPECT_EQ(sockets[0].localAddr, 0u);
    EXPECT_EQ(sockets[0].localPort, htons(8080));
    EXPECT_EQ(sockets[1].kernelState, 1);
    EXPECT_EQ(sockets[1].localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[1].remoteAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(sockets[1].remotePort, htons(0xA458));
    EXPECT_TRUE(sockets[0].id.ipv6 && sockets[1].id.ipv6);
    EXPECT_NE(sockets[1].id.cookie, TcpSocketId::kNoCookie);
}

TEST(SockDiagReply, RefusesMessagesThatDoNotFitWhatWasReceived) {
    std::vector<DiagTcpSocket> sockets;
    // A payload too short for a socket record.
    Reply shortPayload;
    shortPayload.socket(1, AF_INET, 1, "127.0.0.1", 1, 1, sizeof(inet_diag_msg) - 1);
    EXPECT_EQ(parseTcpDumpBatch(shortPayload.bytes(), 1, sockets).error, EPROTO);

    // A length beyond the datagram, and a length shorter than a header.
    Reply tooLong;
    tooLong.socket(1, AF_INET, 1, "127.0.0.1", 1, 1);
    auto bytes = tooLong.bytes();
    uint32_t length = static_cast<uint32_t>(bytes.size() + 4);
    std::memcpy(bytes.data(), &length, 4);
    EXPECT_EQ(parseTcpDumpBatch(bytes, 1, sockets).error, EPROTO);
    length = 8;
    std::memcpy(bytes.data(), &length, 4);
    EXPECT_EQ(parseTcpDumpBatch(bytes, 1, sockets).error, EPROTO);

    // Trailing bytes that do not make a header; an error message cut short.
    Reply trailing;
    trailing.socket(1, AF_INET, 1, "127.0.0.1", 1, 1);
    trailing.bytes().resize(trailing.bytes().size() + 5);
    sockets.clear();
    EXPECT_EQ(parseTcpDumpBatch(trailing.bytes(), 1, sockets).error, EPROTO);
    // Statuses the kernel never sends are refused, not negated.
    Reply oddDone;
    oddDone.done(1, INT_MIN);
    EXPECT_EQ(parseTcpDumpBatch(oddDone.bytes(), 1, sockets).error, EPROTO);
    Reply oddError;
    oddError.error(1, INT_MIN);
    EXPECT_EQ(parseAckBatch(oddError.bytes(), 1).error, EPROTO);
    Reply positiveError;
    positiveError.error(1, 5);
    EXPECT_EQ(parseAckBatch(positiveError.bytes(), 1).error, EPROTO);
    Reply cutError;
    cutError.message(NLMSG_ERROR, 1, std::vector<unsigned char>(2));
    EXPECT_EQ(parseAckBatch(cutError.bytes(), 1).error, EPROTO);
    EXPECT_EQ(parseTcpDumpBatch({}, 1, sockets).error, 0);
}

} // namespace
} // namespace tavrin
