#include "ControlServer.h"

#include "DeviceSocket.h"
#include "Engine.h"
#include "RequestFraming.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace ovlank {
namespace {

constexpr uint32_t kEchoCode = 0x1234;
constexpr uint32_t kFailCode = 0x5678;

// The server under test with a handler that echoes its input into the output
// buffer, so every byte of a reply can be checked.
class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dmn-server-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_path = m_root + "/dev";
        std::string error;
        m_device = DeviceSocket::create(m_path, error);
        ASSERT_TRUE(m_device) << error;
        m_server = std::make_unique<ControlServer>(
            m_device->fd(),
            [this](uint32_t code, std::span<const uint8_t> input, std::span<uint8_t> output) {
                m_handled.fetch_add(1);
                if (code == kFailCode) {
                    std::memset(output.data(), 0xEE, output.size());
                    return RequestResult{STATUS_INVALID_PARAMETER,
                                         static_cast<uint32_t>(output.size())};
                }
                const size_t n = std::min(input.size(), output.size());
                std::memcpy(output.data(), input.data(), n);
                return RequestResult{STATUS_SUCCESS, static_cast<uint32_t>(n)};
            },
            [this](tavrin::journal::Priority, const std::string& line) {
                std::lock_guard lock(m_logMutex);
                m_log.push_back(line);
            });
        m_thread = std::thread([this] { m_server->run(); });
    }
    void TearDown() override {
        if (m_server) {
            m_server->stop();
            m_thread.join();
        }
        m_server.reset();
        m_device.reset();
        std::filesystem::remove_all(m_root);
    }

    int connectClient() {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        timeval timeout{10, 0}; // a hung server fails the test instead of hanging it
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        return fd;
    }

    static void sendAll(int fd, std::span<const uint8_t> bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            ASSERT_GT(n, 0) << std::strerror(errno);
            bytes = bytes.subspan(static_cast<size_t>(n));
        }
    }

    // Reads exactly `count` bytes; fewer when the server closed the connection.
    static std::vector<uint8_t> receive(int fd, size_t count) {
        std::vector<uint8_t> bytes(count);
        size_t got = 0;
        while (got < count) {
            const ssize_t n = ::recv(fd, bytes.data() + got, count - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    static std::vector<uint8_t> reply(NtStatus status, std::vector<uint8_t> output) {
        std::vector<uint8_t> bytes;
        appendReply(bytes, status, output);
        return bytes;
    }

    static bool closedByServer(int fd) {
        uint8_t byte = 0;
        return ::recv(fd, &byte, 1, 0) == 0;
    }

    std::vector<std::string> log() {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }

    std::string m_root, m_path;
    std::unique_ptr<DeviceSocket> m_device;
    std::unique_ptr<ControlServer> m_server;
    std::thread m_thread;
    std::atomic<int> m_handled{0};
    std::mutex m_logMutex;
    std::vector<std::string> m_log;
};

TEST_F(ControlServerTest, PipelinedRequestsAreAnsweredInOrderWithExactBytes) {
    const int fd = connectClient();
    std::vector<uint8_t> stream;
    for (auto frame :
         {encodeRequest(kEchoCode, std::vector<uint8_t>{1, 2, 3, 4, 5}, 3),
          encodeRequest(kFailCode, std::vector<uint8_t>{9}, 16), encodeRequest(kEchoCode, {}, 0),
          encodeRequest(kEchoCode, std::vector<uint8_t>{7, 8}, 100)}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    // Sent a byte at a time, so every cut of every frame is met.
    for (uint8_t byte : stream) {
        sendAll(fd, std::span(&byte, 1));
    }
    std::vector<uint8_t> expected;
    for (auto part : {reply(STATUS_SUCCESS, {1, 2, 3}), reply(STATUS_INVALID_PARAMETER, {}),
                      reply(STATUS_SUCCESS, {}), reply(STATUS_SUCCESS, {7, 8})}) {
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(receive(fd, expected.size()), expected);
    ::close(fd);
}

TEST_F(ControlServerTest, OversizedOrBrokenFramesCloseOnlyThatConnection) {
    const int good = connectClient();
    const int bigInput = connectClient();
    const int bigOutput = connectClient();
    const int cutShort = connectClient();

    sendAll(bigInput, std::vector<uint8_t>{0x34, 0x12, 0, 0, 1, 0, 0x10, 0, 0, 0, 0, 0});
    sendAll(bigOutput, encodeRequest(kEchoCode, {}, kMaxFrameLength + 1));
    auto frame = encodeRequest(kEchoCode, std::vector<uint8_t>(100, 1), 100);
    sendAll(cutShort, std::span(frame).first(50));
    EXPECT_TRUE(closedByServer(bigInput));
    EXPECT_TRUE(closedByServer(bigOutput));
    ::close(cutShort); // gone in the middle of a request

    // The largest allowed request still works, on a connection of its own.
    std::vector<uint8_t> big(kMaxFrameLength, 0x5A);
    sendAll(good, encodeRequest(kEchoCode, big, kMaxFrameLength));
    const auto answer = receive(good, 8 + kMaxFrameLength);
    ASSERT_EQ(answer.size(), 8 + kMaxFrameLength);
    EXPECT_EQ(std::vector<uint8_t>(answer.begin() + 8, answer.end()), big);
    ::close(bigInput);
    ::close(bigOutput);
    ::close(good);

    const auto lines = log();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("closed a client that sent a request of ", 0), 0u);
}

TEST_F(ControlServerTest, StuckClientsDoNotHoldUpOthers) {
    // One client stops in the middle of a frame, another floods requests and never
    // reads a reply, so the server's sends to it block and its backlog grows.
    const int stuck = connectClient();
    auto frame = encodeRequest(kEchoCode, std::vector<uint8_t>(10, 1), 10);
    sendAll(stuck, std::span(frame).first(7));

    const int flooder = connectClient();
    ::fcntl(flooder, F_SETFL, O_NONBLOCK);
    const auto request = encodeRequest(kEchoCode, std::vector<uint8_t>(60000, 3), 60000);
    size_t flooded = 0;
    for (int round = 0; round < 100000; ++round) {
        const size_t offset = flooded % request.size();
        const ssize_t n =
            ::send(flooder, request.data() + offset, request.size() - offset, MSG_NOSIGNAL);
        if (n < 0) {
            ASSERT_EQ(errno, EAGAIN) << std::strerror(errno);
            pollfd wait{flooder, POLLOUT, 0};
            if (::poll(&wait, 1, 500) == 0) {
                break; // the server stopped reading from this client: backlog capped
            }
            continue;
        }
        flooded += static_cast<size_t>(n);
    }
    EXPECT_GT(flooded, ControlServer::kMaxPendingReplyBytes);

    const int other = connectClient();
    sendAll(other, encodeRequest(kEchoCode, std::vector<uint8_t>{42}, 1));
    EXPECT_EQ(receive(other, 9), reply(STATUS_SUCCESS, {42}));
    ::close(other);

    // Once the flooder reads, its requests are served again, in order.
    ::fcntl(flooder, F_SETFL, 0);
    const auto first = receive(flooder, 8 + 60000);
    ASSERT_EQ(first.size(), 8 + 60000u);
    EXPECT_EQ(first[8], 3);
    ::close(flooder);
    ::close(stuck);
}

TEST_F(ControlServerTest, ManyClientsAtOnce) {
    constexpr int kClients = 24;
    constexpr int kRequests = 50;
    std::vector<std::thread> threads;
    std::atomic<int> correct{0};
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            const int fd = connectClient();
            for (int r = 0; r < kRequests; ++r) {
                const std::vector<uint8_t> payload{static_cast<uint8_t>(c),
                                                   static_cast<uint8_t>(r)};
                sendAll(fd, encodeRequest(kEchoCode, payload, 2));
                if (receive(fd, 10) == reply(STATUS_SUCCESS, payload)) {
                    correct.fetch_add(1);
                }
            }
            ::close(fd);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(correct.load(), kClients * kRequests);
    EXPECT_EQ(m_handled.load(), kClients * kRequests);
}

TEST_F(ControlServerTest, ClientsPastTheCapAreClosedUntilOneLeaves) {
    std::vector<int> fds;
    for (size_t i = 0; i < ControlServer::kMaxClients + 1; ++i) {
        fds.push_back(connectClient());
    }
    // Accepted in the order they connected: the last one is over the cap.
    EXPECT_TRUE(closedByServer(fds.back()));
    const auto lines = log();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "refused a client: " + std::to_string(ControlServer::kMaxClients) +
                            " clients are connected");
    sendAll(fds[ControlServer::kMaxClients - 1],
            encodeRequest(kEchoCode, std::vector<uint8_t>{7}, 1));
    EXPECT_EQ(receive(fds[ControlServer::kMaxClients - 1], 9), reply(STATUS_SUCCESS, {7}));

    // Once one leaves, a newcomer is served (after the server has seen it leave).
    ::close(fds.front());
    bool served = false;
    for (int attempt = 0; attempt < 200 && !served; ++attempt) {
        const int fd = connectClient();
        const auto frame = encodeRequest(kEchoCode, std::vector<uint8_t>{8}, 1);
        // Refused, it may be closed before the request is out: not a failure here.
        if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(frame.size())) {
            served = receive(fd, 9) == reply(STATUS_SUCCESS, {8});
        }
        ::close(fd);
        if (!served) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(served);
    for (size_t i = 1; i < fds.size(); ++i) {
        ::close(fds[i]);
    }
}

TEST_F(ControlServerTest, RandomGarbageLeavesTheServerServing) {
    std::srand(12345);
    for (int round = 0; round < 40; ++round) {
        const int fd = connectClient();
        std::vector<uint8_t> junk(static_cast<size_t>(std::rand() % 200));
        for (auto& byte : junk) {
            byte = static_cast<uint8_t>(std::rand());
        }
        sendAll(fd, junk);
        ::close(fd);
    }
    const int fd = connectClient();
    sendAll(fd, encodeRequest(kEchoCode, std::vector<uint8_t>{1}, 1));
    EXPECT_EQ(receive(fd, 9), reply(STATUS_SUCCESS, {1}));
    ::close(fd);
}

} // namespace
} // namespace ovlank
