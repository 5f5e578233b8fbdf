#include "DynamicFilterPass.h"

#include "RecordingMessages.h"
#include "ScriptedSystem.h"
#include "SessionRules.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <map>
#include <set>

namespace tavrin::core {
namespace {

using test::ScriptedDevice;

// The machine as the conditions see it, set by each test.
class FixedConditions final : public ConditionSource {
public:
    int32_t processIdByName(std::string_view name) const override {
        auto it = processes.find(std::string(name));
        return it == processes.end() ? -1 : it->second;
    }
    bool hasOpenConnection(int32_t pid) const override { return connected.count(pid) != 0; }
    int32_t totalUpRate() const override { return up; }
    int32_t totalDownRate() const override { return down; }

    std::map<std::string, int32_t> processes;
    std::set<int32_t> connected;
    int32_t up = 0;
    int32_t down = 0;
};

PacketFilter packetFilter(int32_t id, int32_t available = 1) {
    PacketFilter f;
    f.id = id;
    f.available = available;
    f.protocol = ovlank::kProtocolUdp;
    f.otherIp = htonl(0x0A000002);
    f.otherIpMask = 0xFFFFFFFF;
    return f;
}

DynamicFilter dynamicFilter(int32_t id, std::vector<int32_t> targets) {
    DynamicFilter d;
    d.id = id;
    d.targetFilterIds = std::move(targets);
    d.drop = 1;
    d.dropSynOnly = 0;
    return d;
}

// The CHANGE_FILTER requests a device saw: rule index → rule.
std::vector<ovlank::ChangeFilterRequest> changes(const ScriptedDevice& device) {
    std::vector<ovlank::ChangeFilterRequest> out;
    for (const auto& r : device.requests()) {
        if (r.code != ovlank::CHANGE_FILTER)
            continue;
        EXPECT_EQ(r.input.size(), sizeof(ovlank::ChangeFilterRequest));
        ovlank::ChangeFilterRequest request{};
        std::memcpy(&request, r.input.data(), std::min(r.input.size(), sizeof request));
        out.push_back(request);
    }
    return out;
}

TEST(Evaluate, EachConditionMustHold) {
    FixedConditions machine;
    PacketFilter target = packetFilter(4);
    PacketFilter trigger = packetFilter(9);
    const DynamicFilter::PacketFilterLookup inForce = [&](int32_t id) -> const PacketFilter* {
        return id == 9 ? &trigger : nullptr;
    };
    PacketFilter out;

    DynamicFilter d = dynamicFilter(2, {3, 4});
    d.doBand = 1;
    d.bandwidth = 12;
    d.minimumPacketSize = 60;
    ASSERT_TRUE(Evaluate(d, target, out, inForce, machine)); // no condition: always holds
    EXPECT_EQ(out.drop, 1);
    EXPECT_EQ(out.dropSynOnly, 0);
    EXPECT_EQ(out.doBand, 1);
    EXPECT_EQ(out.bandwidth, 12);
    EXPECT_EQ(out.minimumPacketSize, 60);
    EXPECT_EQ(out.appliedDynamicFilterId, 2);
    EXPECT_EQ(out.otherIp, target.otherIp); // the match stays the packet filter's
    EXPECT_EQ(out.id, 4);
    EXPECT_EQ(target.appliedDynamicFilterId, 0);
    EXPECT_FALSE(Evaluate(d, packetFilter(5), out, inForce, machine)); // not a target

    d.runningProcessName = "worker.bin";
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    machine.processes["worker.bin"] = 77;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));

    d.connectingProcessName = "client";
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    machine.processes["client"] = 78;
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine)); // running, but no connection
    machine.connected.insert(78);
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));

    d.triggerFilterId = 8; // names no packet filter
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    d.triggerFilterId = 9;
    d.filterBandwidthLow = 10;
    d.filterBandwidthHigh = 20;
    trigger.averageBandwidth = 10239;
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    trigger.averageBandwidth = 10240;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));
    trigger.averageBandwidth = 20480;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));
    trigger.averageBandwidth = 20481;
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    trigger.averageBandwidth = 15000;

    d.totalUpLow = 10;
    machine.up = 10239;
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    machine.up = 10240;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));
    d.totalDownHigh = 1;
    machine.down = 1025;
    EXPECT_FALSE(Evaluate(d, target, out, inForce, machine));
    machine.down = 1024;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));

    // Thresholds too large for 32 bits once multiplied never wrap into a small bound.
    d.totalUpLow = 0;
    d.totalUpHigh = 0x7FFFFFFF;
    machine.up = 0x7FFFFFFF;
    EXPECT_TRUE(Evaluate(d, target, out, inForce, machine));
}

class DynamicFilterPassTest : public ::testing::Test {
protected:
    DynamicFilterPassTest() {
        m_driver.Open("Ovlank", "/opt/Ovlank", {}, true, true);
        // Enabled, disabled, enabled: the third filter is rule 1.
        m_packets = {packetFilter(1), packetFilter(2, 0), packetFilter(3)};
        m_packets[2].doBand = 1;
        m_packets[2].bandwidth = 10;
    }
    void pass(bool filtering = true, bool dynamicFiltering = true, int32_t period = 250) {
        std::vector<const PacketFilter*> packets;
        for (const auto& p : m_packets)
            packets.push_back(&p);
        std::vector<const DynamicFilter*> dynamics;
        for (const auto& d : m_dynamics)
            dynamics.push_back(&d);
        m_pass.run({packets, dynamics, filtering, dynamicFiltering, period}, m_machine, m_driver,
                   m_failures);
    }
    ScriptedDevice& device() { return m_opener.device(); }
    // The CHANGE_FILTER requests sent since the last call.
    std::vector<ovlank::ChangeFilterRequest> takeChanges() {
        auto all = changes(device());
        const size_t seen = all.size();
        all.erase(all.begin(), all.begin() + static_cast<long>(m_taken));
        m_taken = seen;
        return all;
    }

    test::ScriptedManager m_manager;
    test::ScriptedOpener m_opener;
    tavrin::test::RecordingMessages m_messages;
    DriverService m_driver{{m_manager, m_opener, m_messages, "/run/t/", "", {}}};
    FailureEpisodes m_failures{m_messages};
    FixedConditions m_machine;
    std::vector<PacketFilter> m_packets;
    std::vector<DynamicFilter> m_dynamics;
    DynamicFilterPass m_pass;
    size_t m_taken = 0;
};

TEST_F(DynamicFilterPassTest, OverridesAreSentEveryPassAndRestoredOnceWhenTheyEnd) {
    m_dynamics = {dynamicFilter(1, {3})};
    m_dynamics[0].runningProcessName = "game";
    m_machine.processes["game"] = 10;
    pass();
    auto sent = takeChanges();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].ruleIndex, 1u); // the disabled filter does not count
    EXPECT_EQ(sent[0].rule.block, 1);
    EXPECT_EQ(sent[0].rule.limit, 0u); // the dynamic filter's action: drop, no band control
    EXPECT_EQ(sent[0].rule.protocol, ovlank::kProtocolUdp);
    EXPECT_EQ(m_pass.overriddenRules(), (std::vector<int32_t>{1}));
    EXPECT_EQ(m_pass.overrides().at(1)->appliedDynamicFilterId, 1);

    pass(); // still holds: sent again
    EXPECT_EQ(takeChanges().size(), 1u);

    m_machine.processes.clear();
    pass();
    sent = takeChanges();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].ruleIndex, 1u);
    EXPECT_EQ(sent[0].rule.block, 0);         // the filter's own action again
    EXPECT_EQ(sent[0].rule.limit, 10u * 256); // its own 10 KB/s
    EXPECT_TRUE(m_pass.overriddenRules().empty());
    pass();
    EXPECT_TRUE(takeChanges().empty());
    EXPECT_TRUE(m_messages.texts().empty());
}

TEST_F(DynamicFilterPassTest, TheLastDynamicFilterInTheListWinsAndIndicesAscend) {
    m_dynamics = {dynamicFilter(1, {1, 3}), dynamicFilter(2, {1})};
    m_dynamics[1].drop = 0;
    m_dynamics[1].doBand = 1;
    m_dynamics[1].bandwidth = 5;
    pass(true, true, 100);
    const auto sent = takeChanges();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].ruleIndex, 0u);
    EXPECT_EQ(sent[0].rule.block, 0);
    EXPECT_EQ(sent[0].rule.limit, 5u * 102);
    EXPECT_EQ(sent[1].ruleIndex, 1u);
    EXPECT_EQ(sent[1].rule.block, 1);
    EXPECT_EQ(m_pass.overrides().at(0)->appliedDynamicFilterId, 2);

    // A disabled dynamic filter takes no part.
    m_dynamics[1].available = 0;
    pass();
    const auto next = takeChanges();
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].rule.block, 1);
}

TEST_F(DynamicFilterPassTest, SwitchingFilteringOrDynamicFilteringOffRestoresEverything) {
    m_dynamics = {dynamicFilter(1, {1, 3})};
    pass();
    EXPECT_EQ(takeChanges().size(), 2u);
    pass(true, false);
    auto sent = takeChanges();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].rule.block, 0);
    EXPECT_EQ(sent[1].rule.block, 0);
    pass(true, false);
    EXPECT_TRUE(takeChanges().empty());

    pass();
    EXPECT_EQ(takeChanges().size(), 2u);
    pass(false, true);
    EXPECT_EQ(takeChanges().size(), 2u);
    EXPECT_TRUE(m_pass.overrides().empty());

    // A failed request is reported and the pass goes on.
    pass();
    takeChanges();
    device().script(ovlank::CHANGE_FILTER, {true, ovlank::STATUS_INVALID_PARAMETER, {}});
    pass();
    EXPECT_EQ(takeChanges().size(), 2u);
    EXPECT_EQ(m_messages.texts(),
              (std::vector<std::string>{"FAILED: DeviceIoControl CHANGE_FILTER"}));
}

TEST_F(DynamicFilterPassTest, ARefusalIsShownOncePerEpisodeAndALostLinkNotAtAll) {
    m_dynamics = {dynamicFilter(1, {1, 3})};
    const ScriptedDevice::Reply refused{true, ovlank::STATUS_INVALID_PARAMETER, {}};
    const ScriptedDevice::Reply accepted{};
    // Per pass, the answers to its two requests, and whether a message is due.
    struct Pass {
        std::vector<ScriptedDevice::Reply> replies;
        size_t messages; // all shown so far
    };
    const Pass passes[] = {
        {{refused, refused}, 1},   // an episode begins: one message for both
        {{refused, refused}, 1},   // it goes on: nothing new, every second
        {{refused, accepted}, 1},  // a success ends it ...
        {{accepted, refused}, 2},  // ... so the next failure is a new episode
        {{accepted, accepted}, 2}, // and so on
    };
    for (size_t i = 0; i < std::size(passes); ++i) {
        for (const auto& reply : passes[i].replies)
            device().script(ovlank::CHANGE_FILTER, reply);
        pass();
        EXPECT_EQ(takeChanges().size(), 2u) << i;
        EXPECT_EQ(m_messages.texts().size(), passes[i].messages) << i;
    }
    for (const auto& text : m_messages.texts())
        EXPECT_EQ(text, "FAILED: DeviceIoControl CHANGE_FILTER");

    // A request lost with the link is not shown: the link's keeper reports that,
    // once, instead of every request that finds the link gone.
    m_messages.clear();
    device().script(ovlank::CHANGE_FILTER, {false, ovlank::STATUS_SUCCESS, {}});
    pass();
    EXPECT_EQ(takeChanges().size(), 1u);
    EXPECT_FALSE(m_driver.deviceOpen());
    EXPECT_TRUE(m_messages.texts().empty());
    EXPECT_EQ(m_pass.overriddenRules(), (std::vector<int32_t>{0, 1}));
}

TEST_F(DynamicFilterPassTest, FiltersPastTheDriversTableAreNeverOverridden) {
    m_packets.clear();
    for (int32_t id = 1; id <= 63; ++id)
        m_packets.push_back(packetFilter(id));
    for (int i = 0; i < 3; ++i)
        m_packets.push_back(packetFilter(0)); // duplicated past 63 IDs: no ID of their own
    m_packets.push_back(packetFilter(7));     // a 67th with an ID a dynamic filter names
    m_dynamics = {dynamicFilter(1, {7, 0})};
    pass();
    const auto sent = takeChanges();
    for (const auto& change : sent)
        EXPECT_LT(change.ruleIndex, ovlank::kMaxRules);
    // Only filter 7 at rule 6: the copy of it at position 66 is past the table, and a
    // filter without an ID is never a target, even of a list that names 0.
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].ruleIndex, 6u);
}

TEST(SessionRules, LimitsAreScaledToBytesPerPeriodWithoutWrapping) {
    EXPECT_EQ(limitFactor(250), 256u);
    EXPECT_EQ(limitFactor(100), 102u);
    EXPECT_EQ(limitFactor(300), 307u);
    EXPECT_EQ(limitFactor(1), 1u);
    EXPECT_EQ(limitFactor(0), 0u);
    EXPECT_EQ(limitFactor(0x7FFFFFFF), 2199023254u);

    PacketFilter f;
    f.doBand = 1;
    f.bandwidth = 10;
    EXPECT_EQ(driverRuleFor(f, 100).limit, 1020u);
    EXPECT_EQ(driverRuleFor(f, 250).limit, 2560u);
    f.bandwidth = 0x7FFFFFFF;
    EXPECT_EQ(driverRuleFor(f, 250).limit, UINT32_MAX);
    f.doBand = 0;
    EXPECT_EQ(driverRuleFor(f, 250).limit, 0u);
}

} // namespace
} // namespace tavrin::core
