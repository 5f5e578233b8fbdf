// Arbitrary sequences of control requests (known and unknown codes, well-formed and
// arbitrary bodies, any output size) interleaved with packets, against the engine and
// the reference model. Every status, reply byte and verdict must agree, and no
// request may write beyond the bytes it reports.
#include "Engine.h"
#include "FuzzCheck.h"
#include "ReferenceEngine.h"
#include "Scenario.h"

#include <algorithm>
#include <vector>

using namespace ovlank;
using namespace ovlank::test;

namespace {

class ScriptedRegistrar final : public HookRegistrar {
public:
    NtStatus registerHook() override { return status; }
    void unregisterHook() override {}
    NtStatus status = STATUS_SUCCESS;
};

constexpr uint8_t kUntouched = 0xEE;
// Enough steps to reach every state; more would only slow the fuzzer down.
constexpr int kMaxSteps = 256;

// One engine and one model for the whole run, brought back to the state after load
// for every input: making a fresh engine each time costs more than the input itself.
struct Fixture {
    ScriptedRegistrar registrar;
    Engine engine{registrar};
    ReferenceEngine reference;
};

void compareRequest(Engine& engine, ReferenceEngine& reference, ScriptedRegistrar& registrar,
                    const Request& q) {
    std::vector<uint8_t> output(q.outputSize, kUntouched);
    const RequestResult got = engine.dispatch(q.code, q.input, output);
    const auto want = reference.dispatch(q.code, q.input, q.outputSize, registrar.status);
    FUZZ_CHECK(got.status == want.status, "status differs from the reference");
    FUZZ_CHECK(got.information == want.output.size(), "reply length differs from the reference");
    FUZZ_CHECK(got.information <= output.size(), "reply longer than the buffer");
    FUZZ_CHECK(std::equal(want.output.begin(), want.output.end(), output.begin()),
               "reply bytes differ from the reference");
    for (size_t i = got.information; i < output.size(); ++i)
        FUZZ_CHECK(output[i] == kUntouched, "byte written past the reply");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    ScriptedRegistrar& registrar = fixture.registrar;
    Engine& engine = fixture.engine;
    ReferenceEngine& reference = fixture.reference;
    engine.unload();
    reference.reset();
    ByteChoices choices({data, size});
    Scenario scenario(choices);

    for (int step = 0; step < kMaxSteps && !choices.exhausted(); ++step) {
        switch (choices.below(5)) {
        case 0: {
            // Raw: any code, any body, any output size.
            Request q;
            q.code = choices.below(4) != 0 ? kControlCodes[choices.below(kControlCodeCount)]
                                           : choices.below(0xFFFFFFFF);
            q.outputSize = choices.below(600);
            q.input = choices.take(choices.below(600));
            registrar.status = choices.below(2) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
            compareRequest(engine, reference, registrar, q);
            break;
        }
        case 1:
        case 2:
            compareRequest(engine, reference, registrar,
                           scenario.request(static_cast<uint32_t>(reference.ruleCount())));
            break;
        case 3: {
            const std::vector<uint8_t> packet = scenario.packet();
            const bool drop = reference.decidePacket(packet);
            FUZZ_CHECK(engine.decidePacket(packet) == (drop ? Verdict::Drop : Verdict::Forward),
                       "verdict differs from the reference");
            break;
        }
        default: {
            const std::vector<uint8_t> packet = choices.take(choices.below(100));
            const bool drop = reference.decidePacket(packet);
            FUZZ_CHECK(engine.decidePacket(packet) == (drop ? Verdict::Drop : Verdict::Forward),
                       "verdict differs from the reference on raw bytes");
        }
        }
    }
    return 0;
}
