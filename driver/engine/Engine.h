// The heart of Ovlank: rule list, per-packet decision, capture ring, counters and
// the control-request dispatch. Pure and synchronous: no system calls, no
// allocation per packet. The daemon drives it from the netfilter queue and the
// control socket; tests and fuzzers drive it with synthetic bytes.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <span>

namespace ovlank {

enum class Verdict : uint32_t {
    Forward = 0, // let the packet continue
    Drop = 1,
};

// Attaches the decision to the system's packet path. START_IP_HOOK calls
// registerHook, STOP_IP_HOOK and unload call unregisterHook. The engine never holds
// its lock while calling these, so the registrar may take as long as it needs and
// packets may be decided meanwhile. Calls come one at a time, on the thread of the
// request (or of unload and the destructor).
class HookRegistrar {
public:
    virtual ~HookRegistrar() = default;
    virtual NtStatus registerHook() = 0;
    virtual void unregisterHook() = 0; // failures are not reported
};

struct RequestResult {
    NtStatus status;
    uint32_t information; // bytes written to the output buffer
};

struct EngineState;

class Engine final {
public:
    explicit Engine(HookRegistrar& registrar);
    // `memory` supplies the local address list of SET_LOCALIP, the only memory the
    // engine takes after it is made; it must outlive the engine.
    Engine(HookRegistrar& registrar, std::pmr::memory_resource& memory);
    // Unregisters the hook if a START_IP_HOOK left it registered.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // One control request. `output` is the caller's buffer; its size is the output
    // length the size rules are checked against. On return the first `information`
    // bytes of `output` hold the reply. Safe to call from any thread, concurrently
    // with decide(); requests are carried out one at a time. `input` and `output` may
    // share memory: no request both reads input and writes output.
    RequestResult dispatch(uint32_t code, std::span<const uint8_t> input,
                           std::span<uint8_t> output);

    // The hook for one IPv4 packet: its IP header (IHL × 4 bytes as given) and the
    // bytes behind it that the system handed over (possibly fewer than the packet
    // has). Never reads past either span. Safe on several threads at once; waits at
    // most for a short spin, allocates nothing, makes no system call. A header
    // shorter than 20 bytes is forwarded untouched: not counted, recorded or totalled.
    // `packetLength` (0: unknown) is the whole packet's length, which the system
    // knows when it handed over only part of the packet; it is used only when the
    // header's total length is 0, as in packets larger than 64 KiB.
    Verdict decide(std::span<const uint8_t> ipHeader, std::span<const uint8_t> data,
                   uint32_t packetLength = 0);

    // Convenience for the hook: splits a raw IPv4 packet at its header length and
    // decides it. Bytes too short to hold an IPv4 header, and a header length field
    // below 20 bytes or beyond the bytes given, are forwarded untouched.
    Verdict decidePacket(std::span<const uint8_t> packet, uint32_t packetLength = 0);

    // Driver unload: unregister the hook, clear the rules, release the local
    // address list. The engine stays usable afterwards, as after load: filtering
    // off and the capture ring empty too.
    void unload();

private:
    std::unique_ptr<EngineState> m_state;
    HookRegistrar& m_registrar;
};

} // namespace ovlank
