// Connection table refresh with owners against `ss -tanp`, on the same table in the
// same run. For each size N it makes N loopback connections (2N established
// sockets) held by a few processes, inside a network namespace of its own, then
// times:
//   cold     the first refresh of a new object (every descriptor link read)
//   warm     a refresh when nothing changed since the last
//   changed  a refresh after one holder opened one more connection (its
//            descriptors are read again)
//   churn    a refresh while another process keeps replacing one of its 64
//            connections every millisecond (a server's ordinary turnover: most of
//            the sockets it shows are closed before their owner is looked for)
//   ss       ss -tanp listing the same table, output discarded
// Usage (root): netinfo_bench [N ...]   default 1000 10000
#include "Messages.h"
#include "NetworkInfo.h"
#include "OwnNamespace.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHolders = 4;
constexpr int kRuns = 5;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "netinfo_bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// A listener on 127.0.0.1 with its port in `port`; -1 on failure.
int listenOnLoopback(uint16_t& port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 4096) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    port = ntohs(address.sin_port);
    return listener;
}

// Connects to the listener and accepts: both ends in `ends`. False on failure.
bool connectPair(int listener, uint16_t port, int (&ends)[2]) {
    ends[0] = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (ends[0] < 0 ||
        ::connect(ends[0], reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return false;
    ends[1] = ::accept(listener, nullptr, nullptr);
    return ends[1] >= 0;
}

// A process holding `count` loopback connections (both ends). Answers 'r' when
// ready; on 'c' opens one more connection and answers 'c'; ends when its pipe closes.
struct Holder {
    pid_t pid = -1;
    int toHolder = -1;
    int fromHolder = -1;
};

// The parent's ends of every holder's pipes: a later holder must not keep an
// earlier one's pipe open, or that one never sees its end.
std::vector<int> g_parentEnds;

// In a child just forked: lets go of the parent's pipe ends and listens on
// 127.0.0.1, or ends the child.
int childListener(uint16_t& port) {
    for (const int fd : g_parentEnds)
        ::close(fd);
    const int listener = listenOnLoopback(port);
    if (listener < 0)
        ::_exit(2);
    return listener;
}

Holder startHolder(int count) {
    int down[2];
    int up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0)
        die("pipe");
    Holder holder;
    holder.pid = ::fork();
    if (holder.pid == 0) {
        ::close(down[1]);
        ::close(up[0]);
        uint16_t port = 0;
        const int listener = childListener(port);
        int ends[2];
        for (int i = 0; i < count; ++i) {
            if (!connectPair(listener, port, ends))
                ::_exit(3);
        }
        char c = 'r';
        (void)!::write(up[1], &c, 1);
        while (::read(down[0], &c, 1) == 1) {
            if (c == 'c' && !connectPair(listener, port, ends))
                ::_exit(4);
            (void)!::write(up[1], &c, 1);
        }
        ::_exit(0);
    }
    ::close(down[0]);
    ::close(up[1]);
    holder.toHolder = down[1];
    holder.fromHolder = up[0];
    g_parentEnds.push_back(down[1]);
    g_parentEnds.push_back(up[0]);
    char c = 0;
    if (::read(holder.fromHolder, &c, 1) != 1 || c != 'r')
        die("holder did not start");
    return holder;
}

void stopHolder(Holder& holder) {
    std::erase(g_parentEnds, holder.toHolder);
    std::erase(g_parentEnds, holder.fromHolder);
    ::close(holder.toHolder);
    ::close(holder.fromHolder);
    int status = 0;
    ::waitpid(holder.pid, &status, 0);
}

constexpr int kChurnRing = 64;

// A process holding a ring of kChurnRing loopback connections, replacing the oldest
// every millisecond until killed. Returns once the ring is full.
pid_t startChurner() {
    int up[2];
    if (::pipe(up) != 0)
        die("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        uint16_t port = 0;
        const int listener = childListener(port);
        int ring[kChurnRing][2];
        for (unsigned i = 0;; ++i) {
            int(&slot)[2] = ring[i % kChurnRing];
            if (i >= kChurnRing) {
                ::close(slot[0]);
                ::close(slot[1]);
            }
            if (!connectPair(listener, port, slot))
                ::_exit(3);
            if (i + 1 == kChurnRing) {
                char c = 'r';
                (void)!::write(up[1], &c, 1);
                ::close(up[1]);
            }
            ::usleep(1000);
        }
    }
    ::close(up[1]);
    char c = 0;
    if (::read(up[0], &c, 1) != 1 || c != 'r')
        die("churner did not start");
    ::close(up[0]);
    return pid;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs ss -tanp with its output going to `out` (a file descriptor); wall time in ms.
double timeSs(int out) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::execlp("ss", "ss", "-tanp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double elapsed = millisecondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "netinfo_bench: ss -tanp failed\n");
        std::exit(1);
    }
    return elapsed;
}

// Lines of ss -tanp output that name a process, to check it saw the same table.
size_t ssOwnedRows() {
    char path[] = "/tmp/tavrin-netinfo-bench-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        die("mkstemp");
    ::unlink(path);
    timeSs(fd);
    ::lseek(fd, 0, SEEK_SET);
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof(buffer))) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    size_t rows = 0;
    for (size_t at = 0; (at = text.find("users:((", at)) != std::string::npos; ++at)
        ++rows;
    return rows;
}

void runSize(int connections) {
    std::vector<Holder> holders;
    for (int i = 0; i < kHolders; ++i)
        holders.push_back(startHolder(connections / kHolders));

    tavrin::StreamMessages messages(stderr, tavrin::Answer::No);
    const size_t expectedSockets = static_cast<size_t>(connections / kHolders) * kHolders * 2;

    // A fresh object knows no process yet: its first refresh reads every link.
    std::vector<double> colds;
    for (int i = 0; i < kRuns; ++i) {
        tavrin::NetworkInfo fresh(messages);
        const auto start = Clock::now();
        if (!fresh.refresh())
            die("refresh");
        colds.push_back(millisecondsSince(start));
    }
    const double cold = median(colds);
    tavrin::NetworkInfo info(messages);
    if (!info.refresh())
        die("refresh");
    auto start = Clock::now();

    size_t established = 0;
    size_t owned = 0;
    for (const tavrin::TcpConnection& c : info) {
        if (c.state != tavrin::kTcpEstablished)
            continue;
        ++established;
        for (const Holder& h : holders)
            owned += c.processId == h.pid ? 1 : 0;
    }

    std::vector<double> warm;
    for (int i = 0; i < kRuns; ++i) {
        start = Clock::now();
        info.refresh();
        warm.push_back(millisecondsSince(start));
    }
    std::vector<double> changed;
    for (int i = 0; i < kRuns; ++i) {
        char c = 'c';
        if (::write(holders[0].toHolder, &c, 1) != 1 || ::read(holders[0].fromHolder, &c, 1) != 1)
            die("holder");
        start = Clock::now();
        info.refresh();
        changed.push_back(millisecondsSince(start));
    }

    // Refreshes a quarter second apart: each finds the ring replaced since the last.
    const pid_t churner = startChurner();
    info.refresh();
    std::vector<double> churn;
    for (int i = 0; i < kRuns; ++i) {
        ::usleep(250000);
        start = Clock::now();
        info.refresh();
        churn.push_back(millisecondsSince(start));
    }
    ::kill(churner, SIGKILL);
    ::waitpid(churner, nullptr, 0);

    const int devNull = ::open("/dev/null", O_WRONLY);
    std::vector<double> ss;
    for (int i = 0; i < kRuns; ++i)
        ss.push_back(timeSs(devNull));
    ::close(devNull);
    const size_t ssOwned = ssOwnedRows();

    const double ssTime = median(ss);
    std::printf("%11d %9zu %9.1f %9.1f %9.1f %9.1f %9.1f %10.2f %10.2f %10.2f %10.2f\n",
                connections, established, cold, median(warm), median(changed), median(churn),
                ssTime, cold / ssTime, median(warm) / ssTime, median(changed) / ssTime,
                median(churn) / ssTime);
    std::fflush(stdout);
    if (established != expectedSockets || owned != expectedSockets || ssOwned < expectedSockets) {
        std::fprintf(stderr,
                     "netinfo_bench: table check failed: %zu established, %zu with their holder, "
                     "%zu owned in ss, %zu expected\n",
                     established, owned, ssOwned, expectedSockets);
        std::exit(1);
    }
    for (Holder& h : holders)
        stopHolder(h);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000};
    const int largest = *std::max_element(sizes.begin(), sizes.end());
    if (largest < kHolders || largest > 100000) {
        std::fprintf(stderr, "usage: netinfo_bench [N ...] with %d <= N <= 100000\n", kHolders);
        return 2;
    }
    // Each holder keeps both ends of its connections open, and so does the churner.
    const rlim_t files =
        static_cast<rlim_t>(2 * largest / kHolders + 2 * kRuns + 2 * kChurnRing + 64);
    rlimit limit{files, files};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        die("setrlimit(RLIMIT_NOFILE)");
    if (const char* failed = enterOwnNamespace())
        die(failed);
    ::signal(SIGPIPE, SIG_IGN);

    std::printf("times in ms, median of %d runs; ratio = ours / ss -tanp\n", kRuns);
    std::printf("%11s %9s %9s %9s %9s %9s %9s %10s %10s %10s %10s\n", "connections", "sockets",
                "cold", "warm", "changed", "churn", "ss", "cold/ss", "warm/ss", "changed/ss",
                "churn/ss");
    for (const int size : sizes)
        runSize(size);
    return 0;
}
