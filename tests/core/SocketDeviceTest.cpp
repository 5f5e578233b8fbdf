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
