#include "SocketDevice.h"

#include "ReadAll.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace tavrin::core {
namespace {

using test::readAll;

// A peer on a real Unix socket that serves one connection with a handler.
class Peer {
public:
    using Handler = std::function<void(int)>;
    Peer(const std::string& path, Handler handler) : m_path(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        m_listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0)
            throw std::runtime_error("listen");
        m_thread = std::thread([this, handler] {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd >= 0) {
                handler(fd);
                ::close(fd);
            }
        });
    }
    ~Peer() {
        m_thread.join();
        ::close(m_listener);
    }

private:
    std::string m_path;
    int m_listener = -1;
    std::thread m_thread;
};

// The client may have given up already; that is what some tests want to see.
void writeAll(int fd, const void* data, size_t n) {
    (void)::send(fd, data, n, MSG_NOSIGNAL);
}

struct Seen {
    ovlank::WireRequestHead head{};
    std::vector<uint8_t> input;
};

// Reads one request; answers with `status` and `output`, announcing `information`.
void answer(int fd, Seen& seen, ovlank::NtStatus status, std::vector<uint8_t> output,
            uint32_t information) {
    if (!readAll(fd, &seen.head, sizeof seen.head))
        return;
    seen.input.resize(seen.head.inputLength);
    if (!readAll(fd, seen.input.data(), seen.input.size()))
        return;
    ovlank::WireReplyHead reply{status, information};
    writeAll(fd, &reply, sizeof reply);
    if (!output.empty())
        writeAll(fd, output.data(), output.size());
}

TEST(SocketDevice, OneRequestIsOneRoundTripInTheWireFormat) {
    tavrin::test::TempFolder folder;
    const std::string path = folder / "dev";
    Seen first;
    Seen second;
    Peer peer(path, [&](int fd) {
        answer(fd, first, ovlank::STATUS_SUCCESS, {0x14, 0x05, 0, 0}, 4);
        answer(fd, second, ovlank::STATUS_INVALID_PARAMETER, {}, 0);
    });
    SocketDeviceOpener opener(std::chrono::seconds(5));
    std::string error;
    auto link = opener.open(path, error);
    ASSERT_NE(link, nullptr) << error;

    std::array<uint8_t, 16> output{};
    auto reply = link->control(ovlank::GET_VERSION, {}, output);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, ovlank::STATUS_SUCCESS);
    EXPECT_EQ(reply->information, 4u);
    EXPECT_EQ(output[0], 0x14);
    EXPECT_EQ(output[1], 0x05);
    EXPECT_EQ(first.head.code, ovlank::GET_VERSION);
    EXPECT_EQ(first.head.inputLength, 0u);
    EXPECT_EQ(first.head.outputLength, 16u);

    const std::vector<uint8_t> input{1, 2, 3, 4, 5, 6};
    reply = link->control(ovlank::SET_PORTS, input, {});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, ovlank::STATUS_INVALID_PARAMETER);
    EXPECT_EQ(second.head.code, ovlank::SET_PORTS);
    EXPECT_EQ(second.head.outputLength, 0u);
    EXPECT_EQ(second.input, input);
}

TEST(SocketDevice, AMalformedOrMissingReplyEndsTheLink) {
    tavrin::test::TempFolder folder;
    SocketDeviceOpener opener(std::chrono::seconds(5));
    std::string error;
    std::array<uint8_t, 4> output{};
    {
        // More bytes announced than the caller's buffer holds.
        const std::string path = folder / "long";
        Seen seen;
        Peer peer(path, [&](int fd) { answer(fd, seen, 0, std::vector<uint8_t>(8), 8); });
        auto link = opener.open(path, error);
        ASSERT_NE(link, nullptr);
        EXPECT_FALSE(link->control(ovlank::GET_PACKET, {}, output).has_value());
        EXPECT_FALSE(link->control(ovlank::GET_VERSION, {}, output).has_value());
    }
    {
        // The peer closes half-way through the output.
        const std::string path = folder / "short";
        Seen seen;
        Peer peer(path, [&](int fd) { answer(fd, seen, 0, {1, 2}, 4); });
        auto link = opener.open(path, error);
        ASSERT_NE(link, nullptr);
        EXPECT_FALSE(link->control(ovlank::GET_VERSION, {}, output).has_value());
    }
    {
        // A peer that never answers: the wait is bounded.
        const std::string path = folder / "stuck";
        Seen seen;
        Peer peer(path, [&](int fd) {
            readAll(fd, &seen.head, sizeof seen.head);
            char c;
            EXPECT_LE(::read(fd, &c, 1), 0); // until the client gives up and closes
        });
        SocketDeviceOpener impatient(std::chrono::milliseconds(200));
        auto link = impatient.open(path, error);
        ASSERT_NE(link, nullptr);
        EXPECT_FALSE(link->control(ovlank::GET_VERSION, {}, output).has_value());
        link.reset();
    }
    EXPECT_EQ(opener.open(folder / "absent", error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(opener.open(std::string(200, 'x'), error), nullptr);
}

TEST(SocketDevice, AStallIsSignalledOnceWhileTheRequestWaitsOn) {
    tavrin::test::TempFolder folder;
    // The peer answers after `delay`, or not at all; the stall mark is at 100 ms and
    // the request's own limit at 400 ms.
    struct Case {
        const char* name;
        int delayMs; // -1: never
        int stalls;
        bool answered;
    };
    const Case cases[] = {
        {"prompt", 0, 0, true},
        {"late", 250, 1, true},
        {"never", -1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / c.name;
        Seen seen;
        Peer peer(path, [&](int fd) {
            if (c.delayMs < 0) {
                readAll(fd, &seen.head, sizeof seen.head);
                char byte;
                EXPECT_LE(::read(fd, &byte, 1), 0); // until the client gives up
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
            answer(fd, seen, ovlank::STATUS_SUCCESS, {0x14, 0x05, 0, 0}, 4);
        });
        SocketDeviceOpener opener(std::chrono::milliseconds(400));
        std::string error;
        auto link = opener.open(path, error);
        ASSERT_NE(link, nullptr);
        int stalls = 0;
        link->setStallHandler(std::chrono::milliseconds(100), [&] { ++stalls; });
        std::array<uint8_t, 4> output{};
        const auto reply = link->control(ovlank::GET_VERSION, {}, output);
        EXPECT_EQ(reply.has_value(), c.answered);
        EXPECT_EQ(stalls, c.stalls);
        EXPECT_EQ(output[0], c.answered ? 0x14 : 0);
        link.reset();
    }
}

TEST(SocketDevice, OpeningNeverWaitsAndTellsANoOneServingFromABusyDevice) {
    tavrin::test::TempFolder folder;
    SocketDeviceOpener opener(std::chrono::seconds(1));
    std::string error;
    // Nothing there; a socket file nobody listens on (a daemon that was killed).
    EXPECT_TRUE(opener.refuses(folder / "absent"));
    const std::string stale = folder / "stale";
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, stale.data(), stale.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_EQ(opener.open(stale, error), nullptr);
    EXPECT_TRUE(opener.refuses(stale));

    // A listener that accepts nobody (a frozen daemon) whose queue is full: opening
    // fails at once instead of hanging, and it does not count as nobody serving.
    const std::string frozen = folder / "frozen";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, frozen.data(), frozen.size());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::vector<std::unique_ptr<DeviceLink>> queued;
    for (int i = 0; i < 64; ++i) {
        auto link = opener.open(frozen, error);
        if (!link)
            break;
        queued.push_back(std::move(link));
    }
    EXPECT_LT(queued.size(), 64u) << "the queue never filled";
    EXPECT_EQ(opener.open(frozen, error), nullptr);
    EXPECT_FALSE(opener.refuses(frozen));
    ::close(listener);
}

TEST(SocketDevice, InputBeyondTheFrameLimitIsRefusedWithoutLosingTheLink) {
    tavrin::test::TempFolder folder;
    const std::string path = folder / "dev";
    Seen seen;
    Peer peer(path, [&](int fd) { answer(fd, seen, ovlank::STATUS_SUCCESS, {}, 0); });
    SocketDeviceOpener opener;
    std::string error;
    auto link = opener.open(path, error);
    ASSERT_NE(link, nullptr);
    std::vector<uint8_t> huge(ovlank::kMaxFrameLength + 1);
    auto reply = link->control(ovlank::SET_LOCALIP, huge, {});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, ovlank::STATUS_INVALID_PARAMETER);
    reply = link->control(ovlank::START_FILTERING, {}, {});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, ovlank::STATUS_SUCCESS);
    EXPECT_EQ(seen.head.code, ovlank::START_FILTERING);
}

} // namespace
} // namespace tavrin::core
