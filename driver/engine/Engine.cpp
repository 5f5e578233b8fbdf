#include "Engine.h"

#include "EngineState.h"
#include "PacketFields.h"
#include "Requests.h"

#include <algorithm>

namespace ovlank {

Engine::Engine(HookRegistrar& registrar) : Engine(registrar, *std::pmr::new_delete_resource()) {}

Engine::Engine(HookRegistrar& registrar, std::pmr::memory_resource& memory)
    : m_state(std::make_unique<EngineState>(memory)), m_registrar(registrar) {}

Engine::~Engine() {
    // Left registered, the hook would call into an engine that is gone.
    if (m_state->hookRegistered)
        m_registrar.unregisterHook();
}

RequestResult Engine::dispatch(uint32_t code, std::span<const uint8_t> input,
                               std::span<uint8_t> output) {
    std::lock_guard requests(m_state->requests);
    return handleRequest(*m_state, m_registrar, code, input, output);
}

Verdict Engine::decide(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data,
                       uint32_t packetLength) {
    PacketFields packet;
    if (!PacketFields::parse(ipHeader, data, packet, packetLength))
        return Verdict::Forward;
    const CaptureEntry capture = captureOf(ipHeader, data);

    EngineState& s = *m_state;
    SpinLockGuard guard(s.lock);
    Verdict verdict = Verdict::Forward;
    const int32_t index = s.rules.findMatch(packet);
    if (index < 0) {
        s.ring.record(capture, -1);
    } else {
        Rule& rule = s.rules.at(static_cast<uint32_t>(index));
        const bool countsAndRecords = packet.isTcp() || packet.isUdp();
        bool counted = false;
        if (!countsAndRecords) {
            // The first rule to match on protocol and addresses decides; nothing is kept.
            verdict = rule.block() ? Verdict::Drop : Verdict::Forward;
        } else if (!s.filtering) {
            counted = true;
        } else if (rule.block() && !(packet.isTcp() && rule.connectionRequestsOnly())) {
            counted = true;
            verdict = Verdict::Drop;
        } else if (rule.block() && packet.isConnectionRequest()) {
            verdict = Verdict::Drop; // a refused connection request is not traffic
        } else if (rule.overLimit(packet.wireSize)) {
            verdict = Verdict::Drop;
        } else {
            counted = true;
        }
        if (counted) {
            rule.count(packet.wireSize);
            s.ring.record(capture, index);
        }
    }

    if (!s.filtering)
        verdict = Verdict::Forward;
    if (verdict == Verdict::Forward && s.localAddressesPresent) {
        const auto& local = s.localAddresses;
        if (std::binary_search(local.begin(), local.end(), packet.sourceAddress))
            s.sentTotal += packet.wireSize;
        if (std::binary_search(local.begin(), local.end(), packet.destinationAddress))
            s.receivedTotal += packet.wireSize;
    }
    return verdict;
}

Verdict Engine::decidePacket(std::span<const uint8_t> packet, uint32_t packetLength) {
    if (packet.size() < kMinIpHeaderSize)
        return Verdict::Forward;
    const size_t headerLength = size_t{packet[0] & 0x0Fu} * 4;
    if (headerLength < kMinIpHeaderSize || headerLength > packet.size())
        return Verdict::Forward;
    return decide(packet.first(headerLength), packet.subspan(headerLength), packetLength);
}

void Engine::unload() {
    EngineState& s = *m_state;
    std::lock_guard requests(s.requests);
    m_registrar.unregisterHook();
    s.hookRegistered = false;
    std::pmr::vector<uint32_t> released(s.localAddresses.get_allocator());
    {
        SpinLockGuard guard(s.lock);
        s.rules.clear();
        s.resetCountersLocked();
        s.localAddresses.swap(released);
        s.localAddressesPresent = false;
        s.filtering = false;
        s.ring.reset();
    }
    // `released` frees the old list here, outside the lock.
}

} // namespace ovlank
