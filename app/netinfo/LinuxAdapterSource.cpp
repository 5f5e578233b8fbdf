#include "LinuxAdapterSource.h"

#include "AdapterDumpParser.h"

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tavrin {
namespace {

// A dump that the kernel marks as interrupted (the tables changed under it) is
// asked for again, a few times at most.
constexpr int kDumpAttempts = 3;

class RouteSocket final {
public:
    RouteSocket() {
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (m_fd < 0)
            return;
        // The kernel answers at once; a bound keeps a wedged stack from hanging the caller.
        timeval timeout{2, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RouteSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    bool valid() const { return m_fd >= 0; }

    template <class Body> bool requestDump(uint16_t type, const Body& body, uint32_t sequence) {
        struct {
            nlmsghdr head;
            Body body;
        } request{};
        request.head.nlmsg_len = sizeof request;
        request.head.nlmsg_type = type;
        request.head.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.head.nlmsg_seq = sequence;
        request.body = body;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        for (;;) {
            const ssize_t sent = ::sendto(m_fd, &request, sizeof request, 0,
                                          reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
            if (sent == static_cast<ssize_t>(sizeof request))
                return true;
            if (sent < 0 && errno == EINTR)
                continue;
            return false;
        }
    }

    // One whole datagram from the kernel; false on an error or time-out.
    bool receive(std::vector<uint8_t>& buffer) {
        for (;;) {
            const ssize_t size = ::recv(m_fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
            if (size < 0 && errno == EINTR)
                continue;
            if (size <= 0)
                return false;
            buffer.resize(static_cast<size_t>(size));
            sockaddr_nl from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            buffer.resize(static_cast<size_t>(got));
            // Only the kernel (port 0) speaks for the tables.
            if (from.nl_pid != 0)
                continue;
            return true;
        }
    }

private:
    int m_fd = -1;
};

template <class Body, class Record, class Parse>
bool dump(RouteSocket& socket, uint16_t type, const Body& body, uint32_t sequence,
          std::vector<Record>& out, bool& interrupted, Parse parse) {
    if (!socket.requestDump(type, body, sequence))
        return false;
    DumpState state;
    std::vector<uint8_t> buffer;
    while (!state.done && !state.failed) {
        if (!socket.receive(buffer))
            return false;
        parse(std::span<const uint8_t>(buffer), sequence, out, state);
    }
    interrupted = interrupted || state.interrupted;
    return !state.failed;
}

} // namespace

std::optional<std::vector<AdapterEntry>> LinuxAdapterSource::listAdapters() {
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        RouteSocket socket;
        if (!socket.valid())
            return std::nullopt;
        std::vector<LinkRecord> links;
        std::vector<AddressRecord> addresses;
        bool interrupted = false;
        ifinfomsg linkRequest{};
        linkRequest.ifi_family = AF_UNSPEC;
        if (!dump(socket, RTM_GETLINK, linkRequest, 1, links, interrupted, parseLinkDatagram))
            return std::nullopt;
        ifaddrmsg addressRequest{};
        addressRequest.ifa_family = AF_INET;
        if (!dump(socket, RTM_GETADDR, addressRequest, 2, addresses, interrupted,
                  parseAddressDatagram))
            return std::nullopt;
        // The last attempt is taken as it is: slightly stale beats none at all.
        if (!interrupted || attempt + 1 == kDumpAttempts)
            return adaptersFromDump(links, addresses);
    }
    return std::nullopt;
}

} // namespace tavrin
