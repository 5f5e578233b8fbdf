// The connection table against the real kernel, inside a network namespace of the
// test's own: sockets of this process and of peer processes, real packets, real cuts.
#include "KernelTestSupport.h"
#include "NetworkInfo.h"
#include "OvlankProtocol.h"
#include "ProcNetTcpTable.h"
#include "RecordingMessages.h"
#include "RunProcess.h"
#include "SockDiagTcpTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sys/prctl.h>

namespace tavrin {
namespace {

using test::Fd;
using test::Peer;
using test::storedLoopback;
using test::storedPort;

// Finds the record with these endpoints (host-order ports, loopback addresses).
const TcpConnection* findLoopback(const NetworkInfo& info, uint16_t localPort,
                                  uint16_t remotePort) {
    TcpConnection key;
    key.localAddr = storedLoopback();
    key.localPort = storedPort(localPort);
    key.remoteAddr = remotePort == 0 ? 0 : storedLoopback();
    key.remotePort = storedPort(remotePort);
    return info.connections().find(key);
}

const TcpConnection* findListener(const NetworkInfo& info, uint16_t port) {
    TcpConnection key;
    key.localAddr = storedLoopback();
    key.localPort = storedPort(port);
    return info.connections().find(key);
}

// The listener's owner; -2 when there is no such listener, so that a missing record
// fails the comparison instead of crashing the test.
int32_t listenerOwner(const NetworkInfo& info, uint16_t port) {
    const TcpConnection* listener = findListener(info, port);
    return listener == nullptr ? -2 : listener->processId;
}

// The port map's owner of `port` over the text table as it is now; -2 when the port
// is not in the map, -3 when there is no map.
int32_t portMapOwner(ProcPortProcessMapper& mapper, uint16_t port) {
    ProcNetTcpTable plain;
    std::vector<TcpRow> rows;
    std::string error;
    if (!plain.read(rows, error))
        return -3;
    const auto map = mapper.build(rows);
    if (!map)
        return -3;
    const auto held = map->find(static_cast<uint16_t>(storedPort(port)));
    return held == map->end() ? -2 : static_cast<int32_t>(held->second);
}

std::string ownExecutableName() {
    return std::string(fileNameOfPath(processExecutablePath(static_cast<int32_t>(::getpid()))));
}

class NetworkInfoKernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root for a network namespace";
        ASSERT_EQ(m_netns.error(), "");
        // Orphans of the peers come to us, so the tests can reap what they started.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        m_info = std::make_unique<NetworkInfo>(m_messages);
    }

    test::NetnsScope m_netns;
    test::RecordingMessages m_messages;
    std::unique_ptr<NetworkInfo> m_info;
};

TEST_F(NetworkInfoKernelTest, ListsListeningAndEstablishedSocketsOfThisProcess) {
    ASSERT_TRUE(m_info->ownerSourceInUse());
    const test::LoopbackConnection loop;

    ASSERT_TRUE(m_info->refresh()) << m_info->lastError();
    // Exactly our three sockets: the namespace is ours alone.
    EXPECT_EQ(m_info->connections().size(), 3u);

    const TcpConnection* listening = findListener(*m_info, loop.serverPort);
    ASSERT_NE(listening, nullptr);
    EXPECT_EQ(listening->state, kTcpListening);
    EXPECT_EQ(listening->remoteAddr, 0u);
    EXPECT_EQ(listening->remotePort, 0u);
    EXPECT_EQ(listening->processId, ::getpid());

    const TcpConnection* outgoing = findLoopback(*m_info, loop.clientPort, loop.serverPort);
    const TcpConnection* incoming = findLoopback(*m_info, loop.serverPort, loop.clientPort);
    ASSERT_NE(outgoing, nullptr);
    ASSERT_NE(incoming, nullptr);
    EXPECT_EQ(outgoing->state, kTcpEstablished);
    EXPECT_EQ(incoming->state, kTcpEstablished);
    EXPECT_EQ(outgoing->processId, ::getpid());
    EXPECT_EQ(m_info->processTable().processDisplayName(outgoing->processId), ownExecutableName());

    // Records with equal local ports are adjacent and the listener's port sorts by
    // its host-order value.
    std::vector<uint16_t> ports;
    for (const TcpConnection& c : *m_info)
        ports.push_back(localPortHostOrder(c));
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
}

TEST_F(NetworkInfoKernelTest, FindsTheOwningProcessesOfAConnectionBetweenTwoPeers) {
    Peer server(NETINFO_PEER);
    Peer client(NETINFO_PEER);
    const int serverPort = server.commandNumber("listen");
    const int clientPort = client.commandNumber("connect " + std::to_string(serverPort));
    ASSERT_EQ(server.command("accept"), "ok");

    ASSERT_TRUE(m_info->refresh()) << m_info->lastError();
    const auto* serverEnd =
        findLoopback(*m_info, static_cast<uint16_t>(serverPort), static_cast<uint16_t>(clientPort));
    const auto* clientEnd =
        findLoopback(*m_info, static_cast<uint16_t>(clientPort), static_cast<uint16_t>(serverPort));
    const auto* listening = findListener(*m_info, static_cast<uint16_t>(serverPort));
    ASSERT_NE(serverEnd, nullptr);
    ASSERT_NE(clientEnd, nullptr);
    ASSERT_NE(listening, nullptr);
    EXPECT_EQ(serverEnd->processId, server.pid());
    EXPECT_EQ(listening->processId, server.pid());
    EXPECT_EQ(clientEnd->processId, client.pid());

    const ProcessTable& processes = m_info->processTable();
    EXPECT_EQ(processes.processDisplayName(server.pid()), "netinfo_peer");
    EXPECT_EQ(processes.processDisplayName(client.pid()), "netinfo_peer");
    EXPECT_EQ(processes.processPath(client.pid()), std::string(NETINFO_PEER));
}

TEST_F(NetworkInfoKernelTest, AgeCountsRefreshesAndRestartsWhenAConnectionComesBack) {
    Fd listener = test::listenOnLoopback();
    const uint16_t port = test::boundPort(listener.get());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(m_info->refresh()) << m_info->lastError();
    ASSERT_NE(findListener(*m_info, port), nullptr);
    EXPECT_EQ(findListener(*m_info, port)->age, 4u);

    listener.reset();
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(findListener(*m_info, port), nullptr);

    listener = test::listenOnLoopback(port);
    ASSERT_TRUE(m_info->refresh());
    ASSERT_NE(findListener(*m_info, port), nullptr);
    EXPECT_EQ(findListener(*m_info, port)->age, 0u);
}

// A packet socket sees every loopback packet once on its way out, as the daemon does.
// Only a tap on every protocol is shown outgoing packets.
class LoopbackCapture {
public:
    LoopbackCapture() : m_fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL))) {
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(ETH_P_ALL);
        address.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
        ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }
    bool ready() const { return m_fd.get() >= 0; }

    // Every packet captured so far, as the daemon would hand it over.
    std::vector<ovlank::CaptureEntry> drain() {
        std::vector<ovlank::CaptureEntry> entries;
        unsigned char packet[65536];
        for (;;) {
            sockaddr_ll from{};
            socklen_t length = sizeof(from);
            const ssize_t n = ::recvfrom(m_fd.get(), packet, sizeof(packet), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 0)
                return entries;
            const size_t headerLength = static_cast<size_t>(packet[0] & 0x0F) * 4;
            if (from.sll_pkttype != PACKET_OUTGOING || from.sll_protocol != htons(ETH_P_IP) ||
                static_cast<size_t>(n) < headerLength)
                continue;
            ovlank::CaptureEntry entry{};
            entry.ruleIndex = -1;
            std::memcpy(entry.ipHeader, packet, sizeof(entry.ipHeader));
            const size_t behind = std::min<size_t>(static_cast<size_t>(n) - headerLength, 20);
            std::memcpy(entry.transport, packet + headerLength, behind);
            entry.length = static_cast<uint32_t>(20 + behind);
            entries.push_back(entry);
        }
    }

private:
    Fd m_fd;
};

uint16_t sourcePortOf(const ovlank::CaptureEntry& entry) {
    return static_cast<uint16_t>((entry.transport[0] << 8) | entry.transport[1]);
}
uint32_t wireSizeOf(const ovlank::CaptureEntry& entry) {
    return ((static_cast<uint32_t>(entry.ipHeader[2]) << 8) | entry.ipHeader[3]) + 14;
}

TEST_F(NetworkInfoKernelTest, CountsCapturedPacketsOnTheirConnection) {
    const test::LoopbackConnection loop;
    ASSERT_TRUE(m_info->refresh());

    LoopbackCapture capture;
    ASSERT_TRUE(capture.ready());
    std::vector<char> data(3000, 'u');
    ASSERT_EQ(::send(loop.client.get(), data.data(), data.size(), 0), 3000);
    ASSERT_EQ(::recv(loop.server.get(), data.data(), data.size(), MSG_WAITALL), 3000);
    ASSERT_EQ(::send(loop.server.get(), data.data(), 700, 0), 700);
    ASSERT_EQ(::recv(loop.client.get(), data.data(), 700, MSG_WAITALL), 700);

    uint32_t fromClient = 0;
    uint32_t fromServer = 0;
    const std::vector<ovlank::CaptureEntry> entries = capture.drain();
    for (const ovlank::CaptureEntry& entry : entries) {
        if (sourcePortOf(entry) == loop.clientPort)
            fromClient += wireSizeOf(entry);
        if (sourcePortOf(entry) == loop.serverPort)
            fromServer += wireSizeOf(entry);
        m_info->accountPacket(entry);
    }
    ASSERT_GT(fromClient, 3000u);
    ASSERT_GT(fromServer, 700u);

    // Both ends are local: every packet counts as sent on its sender's record.
    const auto* clientEnd = findLoopback(*m_info, loop.clientPort, loop.serverPort);
    const auto* serverEnd = findLoopback(*m_info, loop.serverPort, loop.clientPort);
    ASSERT_NE(clientEnd, nullptr);
    ASSERT_NE(serverEnd, nullptr);
    EXPECT_EQ(clientEnd->upBytes, fromClient);
    EXPECT_EQ(serverEnd->upBytes, fromServer);
    EXPECT_EQ(clientEnd->downBytes, 0u);
    EXPECT_EQ(serverEnd->downBytes, 0u);
    ASSERT_NE(findListener(*m_info, loop.serverPort), nullptr);
    EXPECT_EQ(findListener(*m_info, loop.serverPort)->upBytes, 0u);

    // The next refresh makes them the last period's figures and starts again at 0.
    ASSERT_TRUE(m_info->refresh());
    clientEnd = findLoopback(*m_info, loop.clientPort, loop.serverPort);
    ASSERT_NE(clientEnd, nullptr);
    EXPECT_EQ(clientEnd->lastUpBytes, fromClient);
    EXPECT_EQ(clientEnd->upBytes, 0u);
    serverEnd = findLoopback(*m_info, loop.serverPort, loop.clientPort);
    ASSERT_NE(serverEnd, nullptr);
    EXPECT_EQ(serverEnd->lastUpBytes, fromServer);
}

// After a cut the holder learns at once and the peer gets a reset; bounded, so that
// a cut that did nothing fails instead of waiting forever.
void expectCutEnded(const Fd& holder, const Fd& peer) {
    char byte;
    ssize_t received = ::recv(holder.get(), &byte, 1, MSG_DONTWAIT);
    int error = errno;
    EXPECT_EQ(received, -1);
    EXPECT_EQ(error, ECONNABORTED);
    pollfd wait{peer.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1) << "no reset reached the peer";
    received = ::recv(peer.get(), &byte, 1, MSG_DONTWAIT);
    error = errno;
    EXPECT_EQ(received, -1);
    EXPECT_EQ(error, ECONNRESET);
}

TEST_F(NetworkInfoKernelTest, CutConnectionEndsARealConnection) {
    const test::LoopbackConnection loop;
    ASSERT_TRUE(m_info->refresh());
    const auto* clientEnd = findLoopback(*m_info, loop.clientPort, loop.serverPort);
    ASSERT_NE(clientEnd, nullptr);

    EXPECT_EQ(m_info->cutConnection(*clientEnd), 0);
    expectCutEnded(loop.client, loop.server);

    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(findLoopback(*m_info, loop.clientPort, loop.serverPort), nullptr);
    EXPECT_EQ(findLoopback(*m_info, loop.serverPort, loop.clientPort), nullptr);
    EXPECT_NE(findListener(*m_info, loop.serverPort), nullptr);

    // A connection that is no longer there cannot be cut, and says so.
    TcpConnection gone;
    gone.localAddr = storedLoopback();
    gone.localPort = storedPort(loop.clientPort);
    gone.remoteAddr = storedLoopback();
    gone.remotePort = storedPort(loop.serverPort);
    EXPECT_EQ(m_info->cutConnection(gone), ENOENT);

    // The kernel finds a socket bound to a device only when told the device.
    Fd bound(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::setsockopt(bound.get(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3), 0);
    const sockaddr_in server = test::loopbackAddress(loop.serverPort);
    ASSERT_EQ(::connect(bound.get(), reinterpret_cast<const sockaddr*>(&server), sizeof(server)),
              0);
    const Fd accepted(::accept(loop.listener.get(), nullptr, nullptr));
    const uint16_t boundPort = test::boundPort(bound.get());
    ASSERT_TRUE(m_info->refresh());
    const auto* boundEnd = findLoopback(*m_info, boundPort, loop.serverPort);
    ASSERT_NE(boundEnd, nullptr);
    EXPECT_EQ(m_info->cutConnection(*boundEnd), 0);
    expectCutEnded(bound, accepted);
}

// An IPv6 socket listening on :: without IPV6_V6ONLY takes IPv4 connections, on
// IPv6 sockets whose addresses are IPv4-mapped: IPv4 connections all the same.
TEST_F(NetworkInfoKernelTest, IPv4ConnectionsOnIPv6SocketsAreListedAndCut) {
    auto listenOnAny6 = [](int v6only) {
        Fd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        if (::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only)) != 0 ||
            ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&any), sizeof(any)) != 0 ||
            ::listen(fd.get(), 4) != 0)
            throw std::runtime_error(std::string("listen on ::: ") + std::strerror(errno));
        return fd;
    };
    const Fd dualStack = listenOnAny6(0);
    const uint16_t port = test::boundPort(dualStack.get());
    const Fd client = test::connectToLoopback(port);
    const Fd server(::accept(dualStack.get(), nullptr, nullptr));
    const uint16_t clientPort = test::boundPort(client.get());
    // IPv6 alone: a listener that takes only IPv6, and a connection over ::1.
    const Fd v6only = listenOnAny6(1);
    Fd client6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    to6.sin6_addr = in6addr_loopback;
    to6.sin6_port = htons(test::boundPort(v6only.get()));
    ASSERT_EQ(::connect(client6.get(), reinterpret_cast<const sockaddr*>(&to6), sizeof(to6)), 0);
    const Fd server6(::accept(v6only.get(), nullptr, nullptr));

    ASSERT_TRUE(m_info->refresh()) << m_info->lastError();
    EXPECT_EQ(m_info->connections().size(), 3u);
    TcpConnection anyKey;
    anyKey.localPort = storedPort(port);
    const TcpConnection* listening = m_info->connections().find(anyKey);
    ASSERT_NE(listening, nullptr);
    EXPECT_EQ(listening->state, kTcpListening);
    EXPECT_EQ(listening->processId, ::getpid());
    const TcpConnection* serverEnd = findLoopback(*m_info, port, clientPort);
    ASSERT_NE(serverEnd, nullptr);
    EXPECT_EQ(serverEnd->state, kTcpEstablished);
    EXPECT_EQ(serverEnd->processId, ::getpid());
    ASSERT_NE(findLoopback(*m_info, clientPort, port), nullptr);

    // The text table shows the mapped server end, but not whether :: takes IPv4.
    ProcNetTcpTable plain;
    std::vector<TcpRow> rows;
    std::string error;
    ASSERT_TRUE(plain.read(rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    const TcpRow& mapped = rows[0].socket.ipv6 ? rows[0] : rows[1];
    EXPECT_TRUE(mapped.socket.ipv6);
    EXPECT_EQ(mapped.localPort, storedPort(port));
    EXPECT_EQ(mapped.remoteAddr, storedLoopback());
    EXPECT_EQ(mapped.remotePort, storedPort(clientPort));

    EXPECT_EQ(m_info->cutConnection(*serverEnd), 0);
    expectCutEnded(server, client);
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(findLoopback(*m_info, port, clientPort), nullptr);
    EXPECT_NE(m_info->connections().find(anyKey), nullptr);
}

TEST_F(NetworkInfoKernelTest, FollowsProcessesThatStartAndEndBetweenRefreshes) {
    ASSERT_TRUE(m_info->refresh());
    EXPECT_TRUE(m_info->connections().empty());

    // Started since the last refresh: found with its owner at the next.
    auto peer = std::make_unique<Peer>(NETINFO_PEER);
    const auto port = static_cast<uint16_t>(peer->commandNumber("listen"));
    const pid_t pid = peer->pid();
    ASSERT_TRUE(m_info->refresh());
    ASSERT_NE(findListener(*m_info, port), nullptr);
    EXPECT_EQ(listenerOwner(*m_info, port), pid);
    EXPECT_EQ(m_info->processTable().processDisplayName(pid), "netinfo_peer");

    // Ended since: its socket and its process are gone.
    peer.reset();
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(findListener(*m_info, port), nullptr);
    EXPECT_EQ(m_info->processTable().processPath(pid), kUnknownProcess);
    EXPECT_EQ(m_info->processTable().processDisplayName(pid), kUnknownProcess);

    // Started and ended between two refreshes: never seen.
    auto brief = std::make_unique<Peer>(NETINFO_PEER);
    const auto briefPort = static_cast<uint16_t>(brief->commandNumber("listen"));
    const pid_t briefPid = brief->pid();
    brief.reset();
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(findListener(*m_info, briefPort), nullptr);
    EXPECT_EQ(m_info->processTable().processPath(briefPid), kUnknownProcess);
}

TEST_F(NetworkInfoKernelTest, ASocketHandedToAnotherProcessGetsItsNewOwner) {
    // Inherited: the parent owns it while it lives (lowest id first), then the child;
    // in the port map too.
    test::RecordingMessages messages;
    ProcPortProcessMapper mapper(messages);
    Peer parent(NETINFO_PEER);
    const auto port = static_cast<uint16_t>(parent.commandNumber("listen"));
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(listenerOwner(*m_info, port), parent.pid());
    const test::Adopted child(parent.commandNumber("fork"));
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(listenerOwner(*m_info, port), std::min(parent.pid(), child.pid()));
    EXPECT_EQ(portMapOwner(mapper, port), std::min(parent.pid(), child.pid()));
    parent.end();
    ASSERT_TRUE(m_info->refresh());
    ASSERT_NE(findListener(*m_info, port), nullptr);
    EXPECT_EQ(listenerOwner(*m_info, port), child.pid());
    EXPECT_EQ(portMapOwner(mapper, port), child.pid());

    // Passed over a unix socket to a process that was already known.
    Peer sender(NETINFO_PEER);
    Peer receiver(NETINFO_PEER);
    const std::string channel = "tavrin-netinfo-" + std::to_string(::getpid());
    const auto passed = static_cast<uint16_t>(sender.commandNumber("listen"));
    ASSERT_EQ(receiver.command("unix-listen " + channel), "ok");
    ASSERT_TRUE(m_info->refresh());
    EXPECT_EQ(listenerOwner(*m_info, passed), sender.pid());
    ASSERT_EQ(sender.command("pass " + channel), "ok");
    ASSERT_EQ(receiver.command("receive"), "ok");
    ASSERT_TRUE(m_info->refresh());
    ASSERT_TRUE(m_info->refresh());
    ASSERT_NE(findListener(*m_info, passed), nullptr);
    EXPECT_EQ(listenerOwner(*m_info, passed), receiver.pid());
}

TEST_F(NetworkInfoKernelTest, ANewSocketInAReusedDescriptorIsFoundThoughTheCountStayed) {
    Peer server(NETINFO_PEER);
    Peer client(NETINFO_PEER);
    const int port = server.commandNumber("listen");
    const auto first =
        static_cast<uint16_t>(client.commandNumber("connect " + std::to_string(port)));
    ASSERT_EQ(server.command("accept"), "ok");
    ASSERT_TRUE(m_info->refresh());
    ASSERT_TRUE(m_info->refresh());
    const TcpConnection* before = findLoopback(*m_info, first, static_cast<uint16_t>(port));
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(before->processId, client.pid());

    // Same descriptor number, same count, a socket the index has never seen: looked
    // for once it is still there at the refresh after the first that lists it.
    const auto second =
        static_cast<uint16_t>(client.commandNumber("reconnect " + std::to_string(port)));
    ASSERT_TRUE(m_info->refresh());
    ASSERT_TRUE(m_info->refresh());
    const TcpConnection* renewed = findLoopback(*m_info, second, static_cast<uint16_t>(port));
    ASSERT_NE(renewed, nullptr);
    EXPECT_EQ(renewed->processId, client.pid());
    const TcpConnection* old = findLoopback(*m_info, first, static_cast<uint16_t>(port));
    if (old != nullptr) { // the closed end waits out its timers, held by nobody
        EXPECT_EQ(old->processId, -1);
    }
}

// Two sources over the same kernel table agree on every row; the plain one takes
// owners from the port map.
TEST_F(NetworkInfoKernelTest, PlainTableAgreesWithTheOwnerTable) {
    Peer server(NETINFO_PEER);
    const int port = server.commandNumber("listen");
    Peer client(NETINFO_PEER);
    client.commandNumber("connect " + std::to_string(port));
    ASSERT_EQ(server.command("accept"), "ok");

    SockDiagTcpTable owner;
    ProcNetTcpTable plain;
    std::vector<TcpRow> ownerRows;
    std::vector<TcpRow> plainRows;
    std::string error;
    ASSERT_TRUE(owner.read(ownerRows, error)) << error;
    ASSERT_TRUE(plain.read(plainRows, error)) << error;
    auto key = [](const TcpRow& r) {
        return std::tuple(r.state, r.localAddr, r.localPort, r.remoteAddr, r.remotePort);
    };
    std::vector<decltype(key(ownerRows[0]))> a;
    std::vector<decltype(key(ownerRows[0]))> b;
    for (const TcpRow& r : ownerRows)
        a.push_back(key(r));
    for (const TcpRow& r : plainRows)
        b.push_back(key(r));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.size(), 3u);

    test::RecordingMessages messages;
    ProcPortProcessMapper mapper(messages);
    EXPECT_EQ(portMapOwner(mapper, static_cast<uint16_t>(port)), server.pid());
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(NetworkInfoKernelTest, BuildsTheAdapterListWhenMade) {
    // A veth pair inside the test's own namespace; it goes away with the namespace.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"ip", "link", "add", "tvni0", "type", "veth", "peer", "name",
                                   "tvni1"},
          std::vector<std::string>{"ip", "addr", "add", "10.200.0.1/24", "dev", "tvni0"}}) {
        const auto result = test::runProcess(command);
        ASSERT_EQ(result.exitStatus, 0) << result.err;
    }
    NetworkInfo info(m_messages);
    ASSERT_EQ(info.adapters().size(), 3u);
    EXPECT_EQ(info.adapters()[0].name, "none");
    EXPECT_EQ(info.adapters().indexByName("tvni0"),
              static_cast<int32_t>(::if_nametoindex("tvni0")));
    EXPECT_EQ(info.adapters().indexByAddress(inet_addr("10.200.0.1")),
              static_cast<int32_t>(::if_nametoindex("tvni0")));
}

TEST(ProcessTableRestricted, AProcessWeMayNotLookAtIsASystemProcess) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    // A child that gives up root cannot look at process 1's executable.
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(result[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        CEnumProcess enumerator;
        ProcessTable table;
        table.rebuild(enumerator);
        const std::string text =
            std::string(table.processPath(1)) + "\n" + table.processDisplayName(1) + "\n";
        (void)!::write(result[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(result[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(result[0], buffer, sizeof(buffer))) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(result[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(text, "N/A (security restriction)\n[System Process]\n");
}

} // namespace
} // namespace tavrin
