// Traffic and control helper for bench/e2e-throughput.sh, built by the script.
//   udp-recv PORT SECONDS         prints datagrams received per second
//   udp-send ADDR PORT SECONDS    small datagrams as fast as the sender can
//   tcp-recv PORT SECONDS         prints bytes received per second
//   tcp-send ADDR PORT SECONDS    bulk stream
//   ctl DEVICE version|start|rules64   talks to the daemon's control socket
#include "OvlankProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

static sockaddr_in endpoint(const char* address, int port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<uint16_t>(port));
    in.sin_addr.s_addr = address ? inet_addr(address) : INADDR_ANY;
    return in;
}

static bool request(int fd, uint32_t code, const void* input, uint32_t length) {
    uint32_t head[3] = {code, length, 0};
    if (send(fd, head, sizeof(head), 0) != sizeof(head) ||
        (length && send(fd, input, length, 0) != static_cast<ssize_t>(length))) {
        return false;
    }
    uint32_t reply[2];
    return recv(fd, reply, sizeof(reply), MSG_WAITALL) == sizeof(reply) && reply[0] == 0;
}

static int control(const char* device, const std::string& what) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, device, sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        perror("connect");
        return 1;
    }
    if (what == "version") {
        uint32_t head[3] = {ovlank::GET_VERSION, 0, 4};
        uint32_t reply[3] = {};
        return send(fd, head, sizeof(head), 0) == sizeof(head) &&
                       recv(fd, reply, sizeof(reply), MSG_WAITALL) == sizeof(reply) &&
                       reply[0] == 0 && reply[2] == ovlank::kDriverVersion
                   ? 0
                   : 1;
    }
    if (what == "rules64") {
        // Worst case that never matches: every field is compared, every range
        // walked, and the destination ranges miss the benchmark's ports.
        ovlank::DriverRule rule{};
        rule.sourceRangeCount = 16;
        rule.destinationRangeCount = 16;
        for (int i = 0; i < 16; ++i) {
            rule.sourceRanges[i] = {htons(1), htons(i == 15 ? 65535 : 1)};
            rule.destinationRanges[i] = {htons(static_cast<uint16_t>(100 + i)),
                                         htons(static_cast<uint16_t>(100 + i))};
        }
        for (int i = 0; i < 64; ++i) {
            if (!request(fd, ovlank::ADD_FILTER, &rule, sizeof(rule))) {
                return 1;
            }
        }
        return 0;
    }
    return request(fd, ovlank::START_IP_HOOK, nullptr, 0) ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "ctl") {
        return control(argv[2], argc > 3 ? argv[3] : "start");
    }
    const bool udp = mode.rfind("udp", 0) == 0;
    const bool receiving = mode.find("recv") != std::string::npos;
    const int port = std::atoi(argv[receiving ? 2 : 3]);
    const double seconds = std::atof(argv[receiving ? 3 : 4]);
    int fd = socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    const int big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof(big));
    if (receiving) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in in = endpoint(nullptr, port);
        bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof(in));
        if (!udp) {
            listen(fd, 1);
            int conn = accept(fd, nullptr, nullptr);
            close(fd);
            fd = conn;
        }
        std::vector<char> buffer(1 << 16);
        uint64_t total = 0;
        Clock::time_point first{}, last{};
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds + 5);
        while (Clock::now() < deadline) {
            pollfd wait{fd, POLLIN, 0};
            if (poll(&wait, 1, 1000) != 1) {
                if (total) {
                    break;
                }
                continue;
            }
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                break;
            }
            last = Clock::now();
            if (!total) {
                first = last;
            }
            total += udp ? 1 : static_cast<uint64_t>(n);
        }
        const double elapsed = std::chrono::duration<double>(last - first).count();
        std::printf("%.0f\n", elapsed > 0 ? static_cast<double>(total) / elapsed : 0.0);
        return 0;
    }
    sockaddr_in to = endpoint(argv[2], port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        perror("connect");
        return 1;
    }
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    if (udp) {
        char payload[18] = {};
        std::vector<mmsghdr> messages(64);
        std::vector<iovec> vectors(64, iovec{payload, sizeof(payload)});
        for (size_t i = 0; i < messages.size(); ++i) {
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        while (Clock::now() < end) {
            sendmmsg(fd, messages.data(), static_cast<unsigned>(messages.size()), 0);
        }
    } else {
        std::vector<char> chunk(1 << 17, 1);
        while (Clock::now() < end) {
            if (send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) {
                break;
            }
        }
    }
    close(fd);
    return 0;
}
