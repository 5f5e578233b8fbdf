// Everything the engine keeps, shared by the hook and the control requests.
#pragma once

#include "CaptureRing.h"
#include "RuleList.h"
#include "SpinLock.h"

#include <cstdint>
#include <memory_resource>
#include <mutex>
#include <vector>

namespace ovlank {

struct EngineState {
    explicit EngineState(std::pmr::memory_resource& memory) : localAddresses(&memory) {}

    // Taken by the hook around its rule walk, counting and recording, and by the
    // requests around the parts of their work that touch the fields below it. Nothing
    // under it allocates, frees, or calls out.
    SpinLock lock;
    RuleList rules;
    bool filtering = false;
    CaptureRing ring;
    // Sorted, so the hook finds an address in log n steps whatever a client sent.
    std::pmr::vector<uint32_t> localAddresses;
    bool localAddressesPresent = false;
    uint32_t sentTotal = 0;
    uint32_t receivedTotal = 0;

    // One control request at a time, so the registrar is never called twice at once.
    // Never taken by the hook.
    std::mutex requests;
    bool hookRegistered = false; // guarded by `requests`

    // Under `lock`: every rule counter and both totals to 0.
    void resetCountersLocked() {
        rules.resetCounters();
        sentTotal = 0;
        receivedTotal = 0;
    }
};

} // namespace ovlank
