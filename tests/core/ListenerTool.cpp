// A small real program for the integration tests, copied under the names the
// tests bind filters to: with a port it listens on it (every address) and accepts
// and closes connections; with port 0 it only runs. It ends on SIGTERM.
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onTerm(int) {
    g_stop = 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    std::signal(SIGTERM, onTerm);
    const int port = std::atoi(argv[1]);
    if (port <= 0 || port > 65535) {
        while (g_stop == 0)
            ::pause();
        return 0;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || ::listen(fd, 16) != 0)
        return 3;
    while (g_stop == 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) == 1) {
            const int client = ::accept(fd, nullptr, nullptr);
            if (client >= 0)
                ::close(client);
        }
    }
    return 0;
}
