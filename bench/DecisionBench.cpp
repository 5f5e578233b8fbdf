// The cost of one packet decision, from an empty rule list to the worst case the
// rule list allows, beside baselines measured in the same run: copying one 48-byte
// capture entry into a ring slot, and an empty decision (read the packet's fields,
// build its capture entry, store it) without the lock or a rule walk, the least work
// a recorded packet takes. bench/run-decision.sh prints each case as a ratio to the
// empty decision.
#include "Engine.h"
#include "PacketBuilder.h"
#include "PacketFields.h"
#include "RequestBytes.h"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Every allocation of the process, so each case can report allocations per packet.
std::atomic<uint64_t> g_allocations{0};

} // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace ovlank::test {
namespace {

class NullRegistrar final : public HookRegistrar {
public:
    NtStatus registerHook() override { return STATUS_SUCCESS; }
    void unregisterHook() override {}
};

const uint32_t kLocal = ip(192, 168, 1, 5);
const uint32_t kRemote = ip(10, 0, 0, 9);

void add(Engine& engine, const RuleBuilder& rule) {
    if (engine.dispatch(ADD_FILTER, rule.bytes(), {}).status != STATUS_SUCCESS)
        std::abort();
}

void run(benchmark::State& state, Engine& engine, const std::vector<uint8_t>& packet) {
    (void)engine.dispatch(START_FILTERING, {}, {});
    const uint64_t before = g_allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.decidePacket(packet));
    state.counters["allocs_per_packet"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
}

void noAllocationCounter(benchmark::State& state) {
    // Every case reports the same counters, as the CSV output wants.
    state.counters["allocs_per_packet"] = 0;
}

void Baseline_CopyEntryToRingSlot(benchmark::State& state) {
    static std::array<CaptureEntry, kCaptureRingSlots> ring;
    const std::vector<uint8_t> packet = PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build();
    const CaptureEntry entry =
        captureOf(std::span(packet).first(20), std::span(packet).subspan(20));
    uint32_t at = 0;
    for (auto _ : state) {
        ring[at] = entry;
        ring[at].ruleIndex = -1;
        at = at + 1 == kCaptureRingSlots ? 0 : at + 1;
        benchmark::ClobberMemory();
    }
    noAllocationCounter(state);
}
BENCHMARK(Baseline_CopyEntryToRingSlot);

void Baseline_EmptyDecideWithoutLock(benchmark::State& state) {
    static std::array<CaptureEntry, kCaptureRingSlots> ring;
    const std::vector<uint8_t> packet = PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build();
    const std::span<const uint8_t> bytes(packet);
    uint32_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        const size_t headerLength = size_t{bytes[0] & 0x0Fu} * 4;
        PacketFields fields;
        PacketFields::parse(bytes.first(headerLength), bytes.subspan(headerLength), fields);
        benchmark::DoNotOptimize(fields);
        ring[at] = captureOf(bytes.first(headerLength), bytes.subspan(headerLength));
        ring[at].ruleIndex = -1;
        at = at + 1 == kCaptureRingSlots ? 0 : at + 1;
        benchmark::ClobberMemory();
    }
    noAllocationCounter(state);
}
BENCHMARK(Baseline_EmptyDecideWithoutLock);

void Decide_NoRules(benchmark::State& state) {
    NullRegistrar registrar;
    Engine engine(registrar);
    run(state, engine, PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build());
}
BENCHMARK(Decide_NoRules);

// One pass rule that matches: counted, recorded and totalled.
void Decide_OneMatchingRule(benchmark::State& state) {
    NullRegistrar registrar;
    Engine engine(registrar);
    add(engine, RuleBuilder()
                    .tcp()
                    .destination(kRemote, ip(255, 255, 255, 0))
                    .destinationPorts({{80, 80}}));
    const Bytes local = localAddressBytes({kLocal});
    (void)engine.dispatch(SET_LOCALIP, local, {});
    run(state, engine, PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build());
}
BENCHMARK(Decide_OneMatchingRule);

// Fifteen rules for other ports, the sixteenth matches.
void Decide_SixteenRules(benchmark::State& state) {
    NullRegistrar registrar;
    Engine engine(registrar);
    for (uint16_t i = 0; i < 15; ++i)
        add(engine, RuleBuilder().tcp().destinationPorts(
                        {{static_cast<uint16_t>(1000 + i), static_cast<uint16_t>(1000 + i)},
                         {static_cast<uint16_t>(2000 + i), static_cast<uint16_t>(2100 + i)}}));
    add(engine, RuleBuilder().tcp().destinationPorts({{80, 80}}));
    run(state, engine, PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build());
}
BENCHMARK(Decide_SixteenRules);

// 64 rules whose 16 source and 16 destination ranges all have to be looked at (the
// last of each holds the packet's ports) and whose 256-port lists then miss: the
// packet falls through every rule and is recorded without one.
void Decide_SixtyFourRulesWorstCase(benchmark::State& state) {
    NullRegistrar registrar;
    Engine engine(registrar);
    PortRanges source;
    PortRanges destination;
    for (uint16_t i = 0; i < 15; ++i) {
        source.push_back({static_cast<uint16_t>(100 + i), static_cast<uint16_t>(100 + i)});
        destination.push_back({static_cast<uint16_t>(200 + i), static_cast<uint16_t>(200 + i)});
    }
    source.push_back({40000, 40000});
    destination.push_back({80, 80});
    std::vector<uint16_t> ports;
    for (uint16_t i = 0; i < 256; ++i)
        ports.push_back(static_cast<uint16_t>(50000 + i));
    for (uint16_t i = 0; i < kMaxRules; ++i) {
        add(engine, RuleBuilder().tcp().sourcePorts(source).destinationPorts(destination));
        (void)engine.dispatch(SET_PORTS, portListBytes(i, 1, ports), {});
    }
    run(state, engine, PacketBuilder::tcp(kLocal, 40000, kRemote, 80).build());
}
BENCHMARK(Decide_SixtyFourRulesWorstCase);

} // namespace
} // namespace ovlank::test

BENCHMARK_MAIN();
