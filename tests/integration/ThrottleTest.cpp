// Bandwidth limits through the real daemon, with the counter period driven by the
// test as the program drives it: CLEAR_BANDWIDTH every 250 ms.
#include "DaemonFixture.h"
#include "Traffic.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace ovlank::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(250);

// Resets the counters every period on a fixed schedule; a late tick is not made
// up for. Keeps the time of every reset: each begins a period.
class PeriodDriver final {
public:
    PeriodDriver(const std::string& device, uint32_t rules)
        : m_thread([this, device, rules] {
              OvlankClient client(device);
              auto next = Clock::now() + kPeriod;
              while (!m_stop.load()) {
                  std::this_thread::sleep_until(next);
                  if (!client.clearBandwidth(rules)) {
                      m_failed = true;
                      return;
                  }
                  m_starts.push_back(Clock::now());
                  next = std::max(next + kPeriod, Clock::now());
              }
          }) {}
    ~PeriodDriver() { stop(); }
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    bool failed() const { return m_failed.load(); }
    // Only once stopped.
    const std::vector<Clock::time_point>& starts() const { return m_starts; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::vector<Clock::time_point> m_starts;
    std::thread m_thread;
};

using Throttle = DaemonFixture;

TEST_F(Throttle, UdpStreamArrivesAtTheLimitAndSmallPacketsKeepPassing) {
    constexpr uint32_t kBytesPerSecond = 200 * 1024;
    constexpr uint32_t kMinimumSize = 100;
    constexpr size_t kPayload = 1000;
    DriverRule rule = makeRule(kProtocolUdp, 0, 10001);
    rule.limit = kBytesPerSecond / 4; // per 250 ms period
    rule.minimumSize = kMinimumSize;
    ASSERT_EQ(m_client->addFilter(rule), STATUS_SUCCESS);
    startHook();
    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    const auto& hosts = *m_hosts;
    const int sender = udpSocket(hosts.nsA(), hosts.addressA(), 0);
    const int receiver = udpSocket(hosts.nsB(), hosts.addressB(), 10001);

    PeriodDriver periods(m_device, 1);
    // Four times the limit for three seconds, paced in 10 ms steps.
    std::atomic<bool> sending{true};
    std::atomic<size_t> smallSent{0};
    std::thread generator([&] {
        const size_t perStep = 4 * kBytesPerSecond / 100 / udpWireSize(kPayload) + 1;
        auto next = Clock::now();
        const auto end = next + std::chrono::seconds(3);
        while (Clock::now() < end) {
            for (size_t i = 0; i < perStep; ++i) {
                sendDatagram(sender, hosts.addressB(), 10001, kPayload);
            }
            // A datagram at the minimum wire size: never throttled.
            sendDatagram(sender, hosts.addressB(), 10001, kMinimumSize - udpWireSize(0));
            smallSent.fetch_add(1);
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
        sending = false;
    });

    // Measure after the first second, once the schedule has settled.
    std::vector<uint8_t> buffer(65536);
    size_t bigBytes = 0, smallCount = 0;
    const auto start = Clock::now();
    const auto measureFrom = start + std::chrono::seconds(1);
    Clock::time_point measuredStart{}, measuredEnd{};
    for (;;) {
        pollfd wait{receiver, POLLIN, 0};
        if (::poll(&wait, 1, 300) != 1) {
            if (!sending.load()) {
                break;
            }
            continue;
        }
        const ssize_t n = ::recv(receiver, buffer.data(), buffer.size(), 0);
        const auto now = Clock::now();
        if (n == static_cast<ssize_t>(kMinimumSize - udpWireSize(0))) {
            ++smallCount;
        } else if (n > 0 && now >= measureFrom && sending.load()) {
            if (measuredStart == Clock::time_point{}) {
                measuredStart = now;
            }
            measuredEnd = now;
            bigBytes += udpWireSize(static_cast<size_t>(n));
        }
    }
    generator.join();
    EXPECT_FALSE(periods.failed());
    const double seconds = std::chrono::duration<double>(measuredEnd - measuredStart).count();
    ASSERT_GT(seconds, 1.0);
    const double rate = static_cast<double>(bigBytes) / seconds;
    EXPECT_NEAR(rate / kBytesPerSecond, 1.0, 0.15) << rate << " bytes/s";
    EXPECT_EQ(smallCount, smallSent.load());
    ::close(sender);
    ::close(receiver);
}

TEST_F(Throttle, BulkTcpNeverExceedsTheLimitByMoreThanTenPercent) {
    constexpr uint32_t kBytesPerSecond = 4u << 20;
    DriverRule rule = makeRule(kProtocolTcp, 0, 11001);
    rule.limit = kBytesPerSecond / 4;
    rule.minimumSize = 100; // ACKs and bare segments always pass
    ASSERT_EQ(m_client->addFilter(rule), STATUS_SUCCESS);
    startHook();
    ASSERT_EQ(m_client->simple(START_FILTERING), STATUS_SUCCESS);
    const auto& hosts = *m_hosts;
    const int listener = tcpListener(hosts.nsB(), hosts.addressB(), 11001);
    const int client = tcpConnect(hosts.nsA(), hosts.addressB(), 11001, 3000);
    ASSERT_GE(client, 0);
    const int server = acceptWithin(listener, 3000);
    ASSERT_GE(server, 0);

    PeriodDriver periods(m_device, 1);
    constexpr size_t kTotal = 14u << 20; // about three and a half seconds at the limit
    std::thread writer([&] {
        std::vector<uint8_t> chunk(64 * 1024, 9);
        for (size_t sent = 0; sent < kTotal; sent += chunk.size()) {
            if (!sendAll(client, chunk.data(), chunk.size())) {
                break;
            }
        }
        ::shutdown(client, SHUT_WR);
    });
    // Bytes received so far, after every read.
    std::vector<std::pair<Clock::time_point, size_t>> progress;
    const auto start = Clock::now();
    size_t received = 0;
    while (received < kTotal) {
        const size_t got =
            receiveBytes(server, std::min<size_t>(kTotal - received, 1 << 16), 10000);
        if (got == 0) {
            break;
        }
        received += got;
        progress.emplace_back(Clock::now(), received);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    periods.stop();
    EXPECT_EQ(received, kTotal);
    EXPECT_FALSE(periods.failed());
    EXPECT_GT(static_cast<double>(received) / seconds, 0.3 * kBytesPerSecond)
        << "the transfer hardly moved";

    // Every second after the first, counted as four whole periods from a reset:
    // payload is less than wire bytes, so this bounds the wire bytes from below.
    const auto receivedBy = [&](Clock::time_point when) {
        size_t bytes = 0;
        for (const auto& [time, total] : progress) {
            if (time > when) {
                break;
            }
            bytes = total;
        }
        return bytes;
    };
    const auto& starts = periods.starts();
    const auto end = progress.empty() ? start : progress.back().first;
    size_t i = 0;
    while (i < starts.size() && starts[i] < start + std::chrono::seconds(1)) {
        ++i;
    }
    size_t most = 0, windows = 0;
    for (; i + 4 < starts.size() && starts[i + 4] <= end; i += 4, ++windows) {
        most = std::max(most, receivedBy(starts[i + 4]) - receivedBy(starts[i]));
    }
    EXPECT_GE(windows, 2u) << "too few whole seconds to judge";
    EXPECT_LE(static_cast<double>(most), 1.10 * 4 * rule.limit) << most << " bytes in a second";
    for (int fd : {listener, client, server}) {
        ::close(fd);
    }
}

} // namespace
} // namespace ovlank::test
