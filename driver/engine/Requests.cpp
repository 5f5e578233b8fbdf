#include "Requests.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace ovlank {

namespace {

constexpr RequestResult kSuccess{STATUS_SUCCESS, 0};
constexpr RequestResult kInvalid{STATUS_INVALID_PARAMETER, 0};

RequestResult startHook(EngineState& s, HookRegistrar& registrar) {
    // The registrar may take its time; packets keep being decided meanwhile.
    const NtStatus status = registrar.registerHook();
    if (ntSuccess(status))
        s.hookRegistered = true;
    return {status, 0};
}

RequestResult stopHook(EngineState& s, HookRegistrar& registrar) {
    registrar.unregisterHook();
    s.hookRegistered = false;
    std::pmr::vector<uint32_t> released(s.localAddresses.get_allocator());
    {
        SpinLockGuard guard(s.lock);
        s.resetCountersLocked();
        s.localAddresses.swap(released);
        s.localAddressesPresent = false;
    }
    return kSuccess;
}

RequestResult addFilter(EngineState& s, std::span<const uint8_t> input) {
    if (input.size() != sizeof(DriverRule))
        return kInvalid;
    DriverRule record;
    std::memcpy(&record, input.data(), sizeof record);
    if (!Rule::isValid(record))
        return kInvalid;
    SpinLockGuard guard(s.lock);
    return {s.rules.add(record), 0};
}

RequestResult clearFilter(EngineState& s) {
    SpinLockGuard guard(s.lock);
    s.rules.clear();
    s.resetCountersLocked();
    return kSuccess;
}

RequestResult getPacket(EngineState& s, std::span<uint8_t> output) {
    if (output.size() < sizeof(CaptureEntry))
        return kInvalid;
    CaptureEntry entry;
    {
        SpinLockGuard guard(s.lock);
        if (!s.ring.read(entry))
            return kSuccess;
    }
    const size_t length =
        kCaptureHeadSize +
        std::min<size_t>(entry.length, kCaptureIpHeaderSize + kCaptureTransportSize);
    std::memcpy(output.data(), &entry, length);
    return {STATUS_SUCCESS, static_cast<uint32_t>(length)};
}

RequestResult clearBandwidth(EngineState& s, std::span<uint8_t> output) {
    std::array<uint32_t, kMaxRules + 2> reply;
    size_t length = 0;
    bool fits = false;
    {
        // The size check, the gathering and the reset see one rule count and lose no
        // byte counted in between.
        SpinLockGuard guard(s.lock);
        const uint32_t ruleCount = s.rules.size();
        length = bandwidthReplySize(ruleCount);
        fits = output.size() >= length;
        if (fits) {
            for (uint32_t i = 0; i < ruleCount; ++i)
                reply[i] = s.rules.at(i).byteCounter();
            reply[ruleCount] = s.sentTotal;
            reply[ruleCount + 1] = s.receivedTotal;
        }
        s.resetCountersLocked();
    }
    if (!fits)
        return kInvalid;
    for (size_t i = 0; i < length / 4; ++i)
        storeLittle32(output.data() + 4 * i, reply[i]);
    return {STATUS_SUCCESS, static_cast<uint32_t>(length)};
}

RequestResult setPorts(EngineState& s, std::span<const uint8_t> input) {
    if (input.size() < kPortListRequestHeadSize)
        return kInvalid;
    const uint16_t index = loadLittle16(input.data());
    const uint16_t selector = loadLittle16(input.data() + 2);
    const uint16_t count = loadLittle16(input.data() + 4);
    const bool sizeFits =
        (count == kPortListMatchesNothing && input.size() == kPortListRequestHeadSize) ||
        input.size() == kPortListRequestHeadSize + 2 * size_t{count};
    if (!sizeFits)
        return kInvalid;
    // The entries matter only for counts up to 256; the list operation refuses the rest.
    std::array<uint16_t, kMaxPortListEntries> ports{};
    const size_t used = count <= kMaxPortListEntries ? count : 0;
    for (size_t i = 0; i < used; ++i)
        ports[i] = loadLittle16(input.data() + kPortListRequestHeadSize + 2 * i);
    SpinLockGuard guard(s.lock);
    return {s.rules.setPorts(index, selector, count, std::span(ports).first(used)), 0};
}

RequestResult setLocalIp(EngineState& s, std::span<const uint8_t> input) {
    if (input.size() < kLocalAddressListHeadSize)
        return kInvalid;
    const uint32_t count = loadLittle32(input.data());
    // In 64 bits: 4 × count + 4 must not wrap round to a small length.
    if (uint64_t{count} * 4 + kLocalAddressListHeadSize != input.size())
        return kInvalid;

    std::pmr::vector<uint32_t> replacement(s.localAddresses.get_allocator());
    bool allocated = true;
    try {
        replacement.resize(count);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (allocated) {
        for (uint32_t i = 0; i < count; ++i)
            replacement[i] = loadRaw32(input.data() + kLocalAddressListHeadSize + 4 * size_t{i});
        std::sort(replacement.begin(), replacement.end());
    }
    {
        SpinLockGuard guard(s.lock);
        s.localAddresses.swap(replacement);
        s.localAddressesPresent = allocated;
    }
    // `replacement` now holds the old list (or nothing) and frees it outside the lock.
    return allocated ? kSuccess : RequestResult{STATUS_INSUFFICIENT_RESOURCES, 0};
}

RequestResult setFiltering(EngineState& s, bool on) {
    SpinLockGuard guard(s.lock);
    s.filtering = on;
    return kSuccess;
}

RequestResult getVersion(std::span<uint8_t> output) {
    if (output.size() < sizeof(uint32_t))
        return kInvalid;
    storeLittle32(output.data(), kDriverVersion);
    return {STATUS_SUCCESS, sizeof(uint32_t)};
}

RequestResult changeFilter(EngineState& s, std::span<const uint8_t> input) {
    if (input.size() != sizeof(ChangeFilterRequest))
        return kInvalid;
    const uint32_t index = loadLittle32(input.data());
    DriverRule record;
    std::memcpy(&record, input.data() + offsetof(ChangeFilterRequest, rule), sizeof record);
    if (!Rule::isValid(record))
        return kInvalid;
    SpinLockGuard guard(s.lock);
    return {s.rules.change(index, record), 0};
}

} // namespace

RequestResult handleRequest(EngineState& state, HookRegistrar& registrar, uint32_t code,
                            std::span<const uint8_t> input, std::span<uint8_t> output) {
    switch (code) {
    case START_IP_HOOK: return startHook(state, registrar);
    case STOP_IP_HOOK: return stopHook(state, registrar);
    case ADD_FILTER: return addFilter(state, input);
    case CLEAR_FILTER: return clearFilter(state);
    case GET_PACKET: return getPacket(state, output);
    case CLEAR_BANDWIDTH: return clearBandwidth(state, output);
    case SET_PORTS: return setPorts(state, input);
    case SET_LOCALIP: return setLocalIp(state, input);
    case START_FILTERING: return setFiltering(state, true);
    case STOP_FILTERING: return setFiltering(state, false);
    case GET_VERSION: return getVersion(output);
    case CHANGE_FILTER: return changeFilter(state, input);
    default: return kInvalid;
    }
}

} // namespace ovlank
