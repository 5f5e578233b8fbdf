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
    std::vector<ProcTcpEntry> entries;
    std::string error;
    ASSERT_TRUE(parseProcNetTcp(readData("proc_net_tcp.txt"), entries, error)) << error;
    ASSERT_EQ(entries.size(), 7u);

    const TcpRow& any22 = entries[0].row;
    EXPECT_EQ(any22.state, kTcpListening);
    EXPECT_EQ(any22.localAddr, 0u);
    EXPECT_EQ(any22.localPort, htons(22));
    EXPECT_EQ(entries[0].inode, 42999u);

    const TcpRow& client = entries[2].row;
    EXPECT_EQ(client.state, kTcpEstablished);
    EXPECT_EQ(client.localAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(client.localPort, htons(0x9CE2));
    EXPECT_EQ(client.remoteAddr, inet_addr("127.0.0.1"));
    EXPECT_EQ(client.remotePort, htons(8080));
    EXPECT_EQ(client.processId, -1);

    // A closed socket waiting for its peer, no longer held: inode 0.
    EXPECT_EQ(entries[3].row.state, kTcpFinWait2);
    EXPECT_EQ(entries[3].inode, 0u);
    EXPECT_EQ(entries[4].row.state, kTcpCloseWait);
    EXPECT_EQ(entries[6].row.state, kTcpTimeWait);
    EXPECT_EQ(entries[6].row.remotePort, htons(0xE3DC));
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
    };
    for (const Case& c : cases) {
        std::vector<ProcTcpEntry> entries;
        std::string error;
        EXPECT_FALSE(parseProcNetTcp(heading + good + c.line, entries, error)) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
        EXPECT_EQ(entries.size(), 1u);
    }
    // A table with nothing in it, a missing last newline, and blank lines are fine.
    std::vector<ProcTcpEntry> entries;
    std::string error;
    EXPECT_TRUE(parseProcNetTcp(heading, entries, error));
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(parseProcNetTcp(heading + "\n" + good.substr(0, good.size() - 1), entries, error));
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
