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
#include <memory>
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
    std::optional<std::string> localHostName() override {
        ++ownNameAsked;
        return hostName;
    }
    bool resolvesToAddress(const std::string&) override {
        ++ownNameAsked;
        return resolves;
    }
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
    std::atomic<int> ownNameAsked = 0;
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
    auto shared = std::make_shared<ScriptedLookup>();
    ScriptedLookup& lookup = *shared;
    lookup.answers[ip("10.0.0.1")] = {"one", {}};
    lookup.answers[ip("10.0.0.2")] = {"two", {}};
    test::RecordingMessages messages;
    HostNameResolver resolver(shared, 0ms);
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
    test::RecordingMessages messages;
    HostNameResolver resolver(std::make_shared<ScriptedLookup>(), 0ms);
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

TEST(HostNameResolver, StopAbandonsALookupInProgressAndJoinsAnIdleWorker) {
    auto lookup = std::make_shared<ScriptedLookup>();
    lookup->answers[ip("10.0.0.1")] = {"slow", {}};
    test::RecordingMessages messages;
    {
        HostNameResolver resolver(lookup, 0ms);
        resolver.start(messages);
        lookup->hold();
        resolver.enqueue(ip("10.0.0.1"));
        resolver.enqueue(ip("10.0.0.2"));
        ASSERT_TRUE(lookup->waitForAsked(1));
        // A name server that never answers must not hold up the end of the program:
        // stop returns while the lookup still hangs, and the resolver goes away.
        std::atomic<bool> stopped = false;
        std::thread stopper([&] {
            resolver.stop();
            stopped = true;
        });
        for (int i = 0; i < 1000 && !stopped; ++i)
            std::this_thread::sleep_for(10ms);
        const bool stoppedWhileHanging = stopped;
        if (!stoppedWhileHanging)
            lookup->release(); // let a stop that waits end, so the test can report it
        stopper.join();
        ASSERT_TRUE(stoppedWhileHanging);
        EXPECT_FALSE(resolver.waitUntilIdle(0ms));
        EXPECT_EQ(resolver.lookup(ip("10.0.0.1")), "");
        // Stopped for good: a start afterwards would give the abandoned worker a twin.
        resolver.start(messages);
        EXPECT_FALSE(resolver.waitUntilIdle(0ms));
    }
    // The abandoned worker finishes its lookup after its resolver is gone, touches
    // nothing of it (the sanitizers watch this) and asks for nothing further.
    const long owners = lookup.use_count();
    EXPECT_EQ(owners, 2); // the test and the abandoned worker
    lookup->release();
    for (int i = 0; i < 1000 && lookup.use_count() > 1; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(lookup.use_count(), 1);
    EXPECT_EQ(lookup->asked(), (std::vector<uint32_t>{ip("10.0.0.1")}));

    // An idle worker is simply joined: nothing is left running after stop.
    auto idle = std::make_shared<ScriptedLookup>();
    {
        HostNameResolver resolver(idle, 0ms);
        resolver.start(messages);
        resolver.enqueue(ip("10.0.0.3"));
        ASSERT_TRUE(resolver.waitUntilIdle(10s));
        resolver.stop();
    }
    EXPECT_EQ(idle.use_count(), 1);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(HostNameResolver, StartChecksThisMachinesNameAndAddress) {
    test::RecordingMessages messages;
    struct Case {
        bool hasName;
        bool resolves;
        bool check;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {false, true, true, {"ホスト名取得エラー"}},
        {true, false, true, {"IP アドレス取得エラー"}},
        {true, true, true, {}},
        // Without the check nothing is asked, so nothing can fail.
        {false, false, false, {}},
    };
    for (const Case& c : cases) {
        messages.clear();
        auto lookup = std::make_shared<ScriptedLookup>();
        if (!c.hasName)
            lookup->hostName.reset();
        lookup->resolves = c.resolves;
        HostNameResolver resolver(lookup);
        resolver.start(messages, c.check);
        EXPECT_EQ(messages.texts(), c.shown);
        EXPECT_EQ(lookup->ownNameAsked > 0, c.check);
    }
}

TEST(HostNameResolver, SystemResolverNamesThisMachine) {
    auto shared = std::make_shared<SystemHostLookup>();
    SystemHostLookup& system = *shared;
    test::RecordingMessages messages;
    HostNameResolver resolver(shared, 0ms);
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
