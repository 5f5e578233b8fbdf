// The monitor pages' cost on the window's thread, each against a baseline measured in
// the same run:
//   connections  the once-a-second update of the TCP connection page at N real
//                connections (2N established sockets in a network namespace of its
//                own, held by a few processes): the table's refresh, the page's
//                redraw (filter, sort, diff, model signals) and the view's layout and
//                painting of the visible rows; against the refresh alone. Also sorted
//                by host name, and with connections coming and going.
//   packets      one drain of a full capture ring (4000 packets) into the packet
//                monitor at N = 4000 rows and the view's update; against the same
//                drain with monitoring off.
//   memory       RSS at the start and the end of a run of full capture, the ring
//                full every 200 ms.
// Run under a display (bench/run-monitors.sh starts Xvfb). Root: the namespace.
// Usage: monitor_bench [--connections N] [--memory-seconds S]
#include "CPacketListCtrl.h"
#include "CTabPacketMonitor.h"
#include "CTabTcpConnection.h"
#include "CoreHarness.h"
#include "OwnNamespace.h"

#include <QApplication>
#include <QHeaderView>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
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
using ovlank::test::ip;
using ovlank::test::PacketBuilder;

constexpr int kHolders = 4;
constexpr int kRuns = 9;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "monitor_bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the calling thread, in ms.
double threadMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A child holding `count` loopback connections (both ends) until its pipe closes;
// with `churn`, once it reads a byte from the pipe, it replaces one of them every
// millisecond. Forked before Qt starts any thread.
pid_t startHolder(int count, bool churn, std::vector<int>& parentEnds) {
    int ready[2];
    int hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0)
        die("pipe");
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(ready[1]);
        ::close(hold[0]);
        char c = 0;
        if (::read(ready[0], &c, 1) != 1)
            die("holder did not start");
        ::close(ready[0]);
        parentEnds.push_back(hold[1]);
        return pid;
    }
    for (int fd : parentEnds)
        ::close(fd);
    ::close(ready[0]);
    ::close(hold[1]);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4096) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ::_exit(2);
    std::vector<std::pair<int, int>> pairs;
    auto connectOne = [&] {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ::_exit(3);
        pairs.emplace_back(client, ::accept(listener, nullptr, nullptr));
    };
    for (int i = 0; i < count; ++i)
        connectOne();
    char c = 'r';
    (void)!::write(ready[1], &c, 1);
    ::close(ready[1]);
    if (::read(hold[0], &c, 1) != 1 || !churn)
        ::_exit(0);
    ::fcntl(hold[0], F_SETFL, O_NONBLOCK);
    for (size_t i = 0; ::read(hold[0], &c, 1) < 0 && errno == EAGAIN; ++i) {
        auto& slot = pairs[i % pairs.size()];
        ::close(slot.first);
        ::close(slot.second);
        pairs.erase(pairs.begin() + static_cast<long>(i % pairs.size()));
        connectOne();
        ::usleep(1000);
    }
    ::_exit(0);
}

void stopHolders(std::vector<pid_t>& pids, std::vector<int>& ends) {
    for (int fd : ends)
        ::close(fd);
    for (pid_t pid : pids)
        ::waitpid(pid, nullptr, 0);
    pids.clear();
    ends.clear();
}

long rssKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Forwards the session's packets to the page, as the main window does.
class PacketView final : public tavrin::core::CoreView {
public:
    explicit PacketView(tavrin::ui::CTabPacketMonitor& page) : m_page(page) {}
    void sessionTimers(bool, std::chrono::milliseconds) override {}
    void setPaneText(int, const std::string&) override {}
    void endProgram() override {}
    void rulesReloaded() override { m_page.rulesReloaded(); }
    void packetCaptured(const ovlank::CaptureEntry& e, bool noRedraw) override {
        m_page.addPacket(e, noRedraw);
    }
    void redrawPacketList() override { m_page.redrawList(); }

private:
    tavrin::ui::CTabPacketMonitor& m_page;
};

struct Link final : tavrin::ui::MainDialogLink {
    void showPage(int) override {}
    QWidget* page(int) const override { return nullptr; }
    bool windowHidden() const override { return false; }
    void runExternalCommand(const std::string&) override {}
};

struct Holders {
    std::vector<pid_t> pids;
    std::vector<int> ends;
    int churnerGo = -1; // the churner's pipe
};

// The cost of one step: the window thread's CPU time (what the step takes of the
// thread, whatever else the machine runs) and the wall time.
struct Cost {
    double cpu = 0;
    double wall = 0;
};

template <typename Step> Cost cost(Step&& step) {
    const double cpu = threadMs();
    const auto wall = Clock::now();
    step();
    return {threadMs() - cpu, msSince(wall)};
}

struct Costs {
    std::vector<double> cpu;
    std::vector<double> wall;
    void add(Cost c) {
        cpu.push_back(c.cpu);
        wall.push_back(c.wall);
    }
    double medianCpu() const { return median(cpu); }
    double medianWall() const { return median(wall); }
};

// Counts the paints of a widget, to be sure each update was painted once.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(object, event);
    }
};

// The rest of an update on the window's thread: the view's delayed layout and the
// painting of what changed, as the event loop does them.
void settle(QWidget* view, PaintCounter& counter) {
    const int before = counter.paints;
    QCoreApplication::processEvents();
    if (counter.paints == before)
        view->repaint(); // nothing was due: paint it once anyway, to count the paint
}

void connectionBench(int connections, Holders& holders) {
    std::printf("\nconnection page, %d connections (%d sockets established), median of %d;\n"
                "ms of the window thread's CPU time (wall time in parentheses)\n",
                connections, 2 * (connections / kHolders) * kHolders, kRuns);
    std::printf("%-22s %7s %17s %15s %15s %17s %11s\n", "case", "rows", "refresh", "redraw",
                "layout+paint", "update", "update/ref");
    tavrin::core::test::CoreHarness core;
    if (!core.start("[Common Settings]\nAUTO_SAVE=FALSE\nSHOW_LISTENING=TRUE\n"))
        die("core start");
    Link link;
    tavrin::ui::CTabTcpConnection page(tavrin::ui::PageContext{
        core.m_core, core.m_network, core.m_adapters, core.m_commands, core.m_messages, link});
    PaintCounter counter;
    page.list()->viewport()->installEventFilter(&counter);
    page.resize(1400, 900);
    page.show();
    page.redraw(true);
    settle(page.list()->viewport(), counter);

    auto measure = [&](const char* name) {
        Costs refresh, redraw, paint, update;
        for (int i = 0; i < kRuns; ++i) {
            const Cost r = cost([&] {
                if (!core.m_network.refresh())
                    die("refresh");
            });
            const Cost d = cost([&] { page.redraw(false); });
            const Cost p = cost([&] { settle(page.list()->viewport(), counter); });
            refresh.add(r);
            redraw.add(d);
            paint.add(p);
            update.add({r.cpu + d.cpu + p.cpu, r.wall + d.wall + p.wall});
        }
        std::printf("%-22s %7d %8.1f (%6.1f) %6.1f (%6.1f) %6.1f (%6.1f) %8.1f (%6.1f) %11.2f\n",
                    name, page.model()->rowCount(), refresh.medianCpu(), refresh.medianWall(),
                    redraw.medianCpu(), redraw.medianWall(), paint.medianCpu(), paint.medianWall(),
                    update.medianCpu(), update.medianWall(),
                    update.medianCpu() / refresh.medianCpu());
        std::fflush(stdout);
    };

    measure("sorted by local port");
    page.list()->horizontalHeader()->setSortIndicator(tavrin::ui::kConnRemoteHost,
                                                      Qt::AscendingOrder);
    measure("sorted by host name");
    page.list()->horizontalHeader()->setSortIndicator(tavrin::ui::kConnLocalPort,
                                                      Qt::AscendingOrder);
    // A server's turnover: its 64 connections replaced one a millisecond.
    char go = 'g';
    if (::write(holders.churnerGo, &go, 1) != 1)
        die("churner");
    measure("with turnover");
    std::printf("update = refresh + redraw + layout+paint of the same tick; update/ref divides "
                "their CPU times\n");
}

// The most the ring holds unread: one slot less than it has (a writer that comes
// round to the reader leaves the ring reading as empty).
constexpr uint32_t kRingFull = ovlank::kCaptureRingSlots - 1;

void fillRing(tavrin::core::test::CoreHarness& core) {
    // Half matched by the first filter, half by none.
    for (uint32_t i = 0; i < kRingFull; ++i) {
        const auto port = static_cast<uint16_t>(1024 + i % 20000);
        core.decide(i % 2 ? PacketBuilder::tcp(ip(10, 1, 2, 3), port, ip(192, 168, 7, 2), 443)
                          : PacketBuilder::udp(ip(10, 1, 2, 3), port, ip(192, 168, 7, 2), 53));
    }
}

void packetBench(int memorySeconds) {
    tavrin::core::test::CoreHarness core;
    const std::string settings =
        "[Common Settings]\nAUTO_SAVE=FALSE\nMAX_PACKET_CAPTURE_NUM=4000\n"
        "[PacketFilter1]\nFILTER_NAME=web\nPROTOCOL=6\nDIR=DOWN\nMY_IP_MASK=0.0.0.0\n"
        "MY_PORT=443\nIS_MY_ALL_PORT=FALSE\nOTHER_IP_MASK=0.0.0.0\nIS_OTHER_ALL_PORT=TRUE\n"
        "DROP=FALSE\nAVAILABLE=TRUE\nID=1\n";
    if (!core.setUp(settings))
        die("core set-up");
    Link link;
    tavrin::ui::CTabPacketMonitor page(tavrin::ui::PageContext{
        core.m_core, core.m_network, core.m_adapters, core.m_commands, core.m_messages, link});
    PacketView view(page);
    core.m_forward.setTarget(&view);
    core.m_engine.clear();
    core.m_core.initialise();
    page.resize(1400, 900);
    page.show();
    page.tabs()->setCurrentIndex(page.allIndex());
    tavrin::core::FilteringSession& session = core.m_core.session();
    QWidget* visible = page.list(page.allIndex())->viewport();
    PaintCounter counter;
    visible->installEventFilter(&counter);

    // One tick of the drain timer with the ring full; filling the ring does not count.
    auto tick = [&](bool monitor) {
        // The harness's device keeps every request it carried for the tests to read:
        // forgotten here, so that the memory measured is the program's.
        core.m_engine.clear();
        fillRing(core);
        session.setMonitorPackets(monitor);
        return cost([&] {
            session.drainPackets();
            settle(visible, counter);
        });
    };
    for (int i = 0; i < 3; ++i)
        tick(true); // the lists fill up to N
    Costs full, alone;
    for (int i = 0; i < kRuns; ++i) {
        full.add(tick(true));
        alone.add(tick(false));
    }
    std::printf("\npacket monitor, N = 4000, ring full (%u packets) at each drain, median of %d;\n"
                "ms of the window thread's CPU time (wall time in parentheses)\n",
                kRingFull, kRuns);
    std::printf("%-22s %7s %17s %17s %11s\n", "case", "rows", "drain alone", "drain+page",
                "page/alone");
    std::printf("%-22s %7d %8.1f (%6.1f) %8.1f (%6.1f) %11.2f\n", "drain and redraw",
                page.list(page.allIndex())->packetModel()->rowCount(), alone.medianCpu(),
                alone.medianWall(), full.medianCpu(), full.medianWall(),
                full.medianCpu() / alone.medianCpu());
    std::fflush(stdout);

    if (memorySeconds <= 0)
        return;
    const long start = rssKilobytes();
    const auto begin = Clock::now();
    long ticks = 0;
    while (msSince(begin) < memorySeconds * 1000.0) {
        const auto t = Clock::now();
        tick(true);
        ++ticks;
        const double left = 200.0 - msSince(t);
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
    }
    const long end = rssKilobytes();
    std::printf("\nmemory over %d s of full capture (%ld drains of %u packets), RSS in KiB\n",
                memorySeconds, ticks, kRingFull);
    std::printf("%-22s %9s %9s %11s\n", "case", "start", "end", "end/start");
    std::printf("%-22s %9ld %9ld %11.3f\n", "RSS", start, end,
                static_cast<double>(end) / static_cast<double>(start));
}

} // namespace

int main(int argc, char** argv) {
    int connections = 10000;
    int memorySeconds = 60;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--connections" && i + 1 < argc)
            connections = std::atoi(argv[++i]);
        else if (arg == "--memory-seconds" && i + 1 < argc)
            memorySeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: monitor_bench [--connections N] [--memory-seconds S]\n");
            return 2;
        }
    }
    if (connections < kHolders || connections > 100000 || memorySeconds < 0) {
        std::fprintf(stderr, "monitor_bench: connections from %d to 100000, seconds 0 or more\n",
                     kHolders);
        return 2;
    }
    const rlim_t files = static_cast<rlim_t>(2 * connections / kHolders + 1024);
    rlimit limit{files, files};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        die("setrlimit(RLIMIT_NOFILE)");
    ::signal(SIGPIPE, SIG_IGN);
    if (const char* failed = enterOwnNamespace())
        die(failed);
    // Every process that holds connections is forked before Qt starts any thread.
    Holders holders;
    for (int i = 0; i < kHolders; ++i)
        holders.pids.push_back(startHolder(connections / kHolders, false, holders.ends));
    holders.pids.push_back(startHolder(64, true, holders.ends));
    holders.churnerGo = holders.ends.back();
    {
        QApplication app(argc, argv);
        connectionBench(connections, holders);
        stopHolders(holders.pids, holders.ends);
        packetBench(memorySeconds);
    }
    return 0;
}
