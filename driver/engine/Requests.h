// The twelve control requests: size rules, statuses and the work behind each.
#pragma once

#include "Engine.h"
#include "EngineState.h"

#include <cstdint>
#include <span>

namespace ovlank {

// Carries out one request; the caller holds `state.requests`.
RequestResult handleRequest(EngineState& state, HookRegistrar& registrar, uint32_t code,
                            std::span<const uint8_t> input, std::span<uint8_t> output);

} // namespace ovlank
