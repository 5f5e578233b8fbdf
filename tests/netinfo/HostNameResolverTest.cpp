// The resolver's queue, cache and name rules with a scripted lookup, and the system
// resolver on this machine's own names.
#include "HostNameResolver.h"
#include "RecordingMessages.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrin {
namespace {

using namespace std::chrono_literals;

// Answers from a script; can hold every lookup until released, and records the
// order in which addresses were asked.
class ScriptedLookup final : public HostLookup {
public:
    std::optional<std::string> localHostName() override { return hostName; }
    bool resolvesToAddress(const std::string&) override { return resolves; }
    std::optional<HostEntry> reverse(uint32_t address) override {
        std::unique_lock lock(m_lock);
        m_asked.push_back(address);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_holding; });
        const auto it = answers.find(address);
        if (it == answers.end())
            return std::nullopt;
        return it->second;
    }

    void hold() {
        std::lock_guard lock(m_lock);
        m_holding = true;
    }
    void release() {
        std::lock_guard lock(m_lock);
        m_holding = false;
        m_changed.notify_all();
    }
    // Waits until `count` lookups have begun (bounded, so a fault fails the test).
    bool waitForAsked(size_t count) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 10s, [&] { return m_asked.size() >= count; });
    }
    std::vector<uint32_t> asked() {
        std::lock_guard lock(m_lock);
        return m_asked;
    }

    std::optional<std::string> hostName = "here";
    bool resolves = true;
    std::map<uint32_t, HostEntry> answers; // set before the resolver starts

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uint32_t> m_asked;
    bool m_holding = false;
};

uint32_t ip(const char* dotted) {
    return inet_addr(dotted);
}

TEST(HostNameRules, LoopbackAndAnyAddressNeedNoLookup) {
    ScriptedLookup lookup;
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("127.0.0.1")), "localhost");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("0.0.0.0")), "0.0.0.0");
    EXPECT_TRUE(lookup.asked().empty());
}

TEST(HostNameRules, OfficialNameThenAliasThenDottedAddress) {
    ScriptedLookup lookup;
    lookup.answers[ip("10.0.0.1")] = {"gateway.example.org", {"gw"}};
    lookup.answers[ip("10.0.0.2")] = {"", {"printer", "lp"}};
    lookup.answers[ip("10.0.0.3")] = {"", {}};
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("10.0.0.1")), "gateway.example.org");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("10.0.0.2")), "printer (Alias)");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("10.0.0.3")), "10.0.0.3");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("192.168.200.17")), "192.168.200.17");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("255.255.255.255")), "255.255.255.255");
}

TEST(HostNameRules, LongNamesAreCutBetweenCharactersAndControlCharactersDefused) {
    ScriptedLookup lookup;
    // 254 ASCII bytes then a three-byte character: 255 bytes would split it.
    lookup.answers[ip("10.0.0.1")] = {std::string(254, 'a') + "名.example", {}};
    lookup.answers[ip("10.0.0.2")] = {"", {std::string(250, 'b')}};
    lookup.answers[ip("10.0.0.3")] = {"evil\x1b[2J\nname\x7f", {}};
    const std::string cut = HostNameResolver::makeName(lookup, ip("10.0.0.1"));
    EXPECT_EQ(cut, std::string(254, 'a'));
    const std::string alias = HostNameResolver::makeName(lookup, ip("10.0.0.2"));
    EXPECT_EQ(alias.size(), 255u);
    EXPECT_EQ(alias, std::string(250, 'b') + " (Ali");
    EXPECT_EQ(HostNameResolver::makeName(lookup, ip("10.0.0.3")), "evil?[2J?name?");
}

TEST(HostNameResolver, QueueIsFirstInFirstOutWithoutDuplicates) {
    ScriptedLookup lookup;
    lookup.answers[ip("10.0.0.1")] = {"one", {}};
    lookup.answers[ip("10.0.0.2")] = {"two", {}};
    test::RecordingMessages messages;
    HostNameResolver resolver(lookup, 0ms);
    resolver.start(messages);
    EXPECT_TRUE(messages.texts().empty());

    lookup.hold();
    EXPECT_EQ(resolver.lookup(ip("10.0.0.1")), "");
    resolver.enqueue(ip("10.0.0.1"));
    ASSERT_TRUE(lookup.waitForAsked(1));
    // While the first is being looked up, the monitor redraws and asks again.
    for (int redraw = 0; redraw < 3; ++redraw) {
        for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.2"}) {
            if (resolver.lookup(ip(a)).empty())
                resolver.enqueue(ip(a));
        }
    }
    EXPECT_EQ(resolver.pendingCount(), 3u);
    lookup.release();
    ASSERT_TRUE(resolver.waitUntilIdle(10s));

    EXPECT_EQ(lookup.asked(),
              (std::vector<uint32_t>{ip("10.0.0.1"), ip("10.0.0.2"), ip("10.0.0.3")}));
    EXPECT_EQ(resolver.lookup(ip("10.0.0.1")), "one");
    EXPECT_EQ(resolver.lookup(ip("10.0.0.2")), "two");
    // No record: the dotted address is the answer, and it is not asked again.
    EXPECT_EQ(resolver.lookup(ip("10.0.0.3")), "10.0.0.3");
    EXPECT_EQ(resolver.pendingCount(), 0u);
}

TEST(HostNameResolver, CacheEmptiesAfterAThousandNames) {
    ScriptedLookup lookup;
    test::RecordingMessages messages;
    HostNameResolver resolver(lookup, 0ms);
    resolver.start(messages);
    auto address = [](uint32_t n) { return htonl(0x0A000000u + n); };
    for (uint32_t n = 1; n <= 999; ++n)
        resolver.enqueue(address(n));
    ASSERT_TRUE(resolver.waitUntilIdle(30s));
    EXPECT_EQ(resolver.lookup(address(1)), "10.0.0.1");
    EXPECT_EQ(resolver.lookup(address(999)), "10.0.3.231");

    resolver.enqueue(address(1000));
    ASSERT_TRUE(resolver.waitUntilIdle(30s));
    EXPECT_EQ(resolver.lookup(address(1)), "");
    EXPECT_EQ(resolver.lookup(address(1000)), "");

    // Counting starts again: the next name stays.
    resolver.enqueue(address(1));
    ASSERT_TRUE(resolver.waitUntilIdle(30s));
    EXPECT_EQ(resolver.lookup(address(1)), "10.0.0.1");
}

TEST(HostNameResolver, StopWaitsForTheLookupInProgress) {
    ScriptedLookup lookup;
    lookup.answers[ip("10.0.0.1")] = {"slow", {}};
    test::RecordingMessages messages;
    HostNameResolver resolver(lookup, 0ms);
    resolver.start(messages);
    lookup.hold();
    resolver.enqueue(ip("10.0.0.1"));
    resolver.enqueue(ip("10.0.0.2"));
    ASSERT_TRUE(lookup.waitForAsked(1));

    std::atomic<bool> stopped = false;
    std::thread stopper([&] {
        resolver.stop();
        stopped = true;
    });
    // Waiting for the queue ends once the stop is asked for; stop itself cannot
    // return while the lookup holds. Once it ends, the answer is kept and the worker
    // goes no further.
    EXPECT_FALSE(resolver.waitUntilIdle(10s));
    EXPECT_FALSE(stopped);
    lookup.release();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(resolver.lookup(ip("10.0.0.1")), "slow");
    EXPECT_EQ(lookup.asked(), (std::vector<uint32_t>{ip("10.0.0.1")}));
    EXPECT_FALSE(resolver.waitUntilIdle(0ms));
}

TEST(HostNameResolver, StartChecksThisMachinesNameAndAddress) {
    test::RecordingMessages messages;
    {
        ScriptedLookup lookup;
        lookup.hostName.reset();
        HostNameResolver resolver(lookup);
        resolver.start(messages);
    }
    {
        ScriptedLookup lookup;
        lookup.resolves = false;
        HostNameResolver resolver(lookup);
        resolver.start(messages);
    }
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"ホスト名取得エラー", "IP アドレス取得エラー"}));
}

TEST(HostNameResolver, SystemResolverNamesThisMachine) {
    SystemHostLookup system;
    test::RecordingMessages messages;
    HostNameResolver resolver(system, 0ms);
    resolver.start(messages);
    // The loopback address is named by rule, whatever the hosts file says.
    resolver.enqueue(ip("127.0.0.1"));
    ASSERT_TRUE(resolver.waitUntilIdle(30s));
    EXPECT_EQ(resolver.lookup(ip("127.0.0.1")), "localhost");
    EXPECT_TRUE(system.resolvesToAddress("127.0.0.1"));

    const auto name = system.localHostName();
    ASSERT_TRUE(name.has_value());
    if (!system.resolvesToAddress(*name))
        GTEST_SKIP() << "this machine's name " << *name
                     << " has no IPv4 address here (hosts file, DNS)";
    EXPECT_TRUE(messages.texts().empty()) << messages.texts()[0];
}

} // namespace
} // namespace tavrin
