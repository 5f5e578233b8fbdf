// Arbitrary packet bytes, split at arbitrary header lengths, against a random rule
// set (with port lists, local addresses and the filtering switch), on the engine and
// the reference model: verdicts, captured entries and counters must agree and no byte
// outside the packet may be read.
#include "Engine.h"
#include "FuzzCheck.h"
#include "ReferenceEngine.h"
#include "Scenario.h"

#include <memory>
#include <vector>

using namespace ovlank;
using namespace ovlank::test;

namespace {

class NullRegistrar final : public HookRegistrar {
public:
    NtStatus registerHook() override { return STATUS_SUCCESS; }
    void unregisterHook() override {}
};

void both(Engine& engine, ReferenceEngine& reference, uint32_t code,
          const std::vector<uint8_t>& input) {
    const RequestResult got = engine.dispatch(code, input, {});
    FUZZ_CHECK(got.status == reference.dispatch(code, input, 0).status, "set-up status differs");
}

constexpr int kMaxPackets = 256;

// One engine and one model for the whole run, brought back to the state after load
// for every input: making a fresh engine each time costs more than the input itself.
struct Fixture {
    NullRegistrar registrar;
    Engine engine{registrar};
    ReferenceEngine reference;
};

void compareState(Engine& engine, ReferenceEngine& reference) {
    std::vector<uint8_t> out(sizeof(BandwidthReply));
    for (int i = 0; i <= kMaxPackets; ++i) {
        const RequestResult got = engine.dispatch(GET_PACKET, {}, out);
        const auto want = reference.dispatch(GET_PACKET, {}, out.size());
        FUZZ_CHECK(got.information == want.output.size() &&
                       std::equal(want.output.begin(), want.output.end(), out.begin()),
                   "captured entry differs from the reference");
        if (got.information == 0)
            break;
    }
    const RequestResult got = engine.dispatch(CLEAR_BANDWIDTH, {}, out);
    const auto want = reference.dispatch(CLEAR_BANDWIDTH, {}, out.size());
    FUZZ_CHECK(got.information == want.output.size() &&
                   std::equal(want.output.begin(), want.output.end(), out.begin()),
               "counters differ from the reference");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    Engine& engine = fixture.engine;
    ReferenceEngine& reference = fixture.reference;
    engine.unload();
    reference.reset();
    ByteChoices choices({data, size});
    Scenario scenario(choices);

    const uint32_t rules = choices.below(kMaxRules + 1);
    for (uint32_t i = 0; i < rules; ++i)
        both(engine, reference, ADD_FILTER, bytesOf(scenario.rule()));
    for (uint32_t i = choices.below(4); i > 0; --i) {
        const Request q = scenario.request(rules);
        if (q.code == SET_PORTS || q.code == SET_LOCALIP)
            both(engine, reference, q.code, q.input);
    }
    if (choices.below(3) != 0)
        both(engine, reference, START_FILTERING, {});

    for (int i = 0; i < kMaxPackets && !choices.exhausted(); ++i) {
        const std::vector<uint8_t> bytes =
            choices.below(4) == 0 ? scenario.packet() : choices.take(choices.below(120));
        // An exactly sized copy, so any read past the packet is caught.
        const size_t n = bytes.size();
        const auto packet = std::make_unique<uint8_t[]>(n == 0 ? 1 : n);
        std::copy(bytes.begin(), bytes.end(), packet.get());
        const std::span<const uint8_t> whole(packet.get(), n);
        bool drop = false;
        Verdict verdict = Verdict::Forward;
        if (choices.below(2)) {
            drop = reference.decidePacket(whole);
            verdict = engine.decidePacket(whole);
        } else {
            const size_t split = choices.below(static_cast<uint32_t>(n + 1));
            drop = reference.decide(whole.first(split), whole.subspan(split));
            verdict = engine.decide(whole.first(split), whole.subspan(split));
        }
        FUZZ_CHECK(verdict == (drop ? Verdict::Drop : Verdict::Forward),
                   "verdict differs from the reference");
    }
    compareState(engine, reference);
    return 0;
}
