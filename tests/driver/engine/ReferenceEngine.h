// A second, deliberately plain model of the engine, written straight from the rules:
// linked-list order, ranges converted at every comparison, port lists searched entry
// by entry, local addresses searched in the order given. Tests and fuzzers run it
// beside the real engine and compare every status, reply byte and verdict.
#pragma once

#include "OvlankProtocol.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace ovlank::test {

class ReferenceEngine final {
public:
    struct Result {
        NtStatus status = STATUS_SUCCESS;
        std::vector<uint8_t> output;
    };

    // `registerStatus`: what the registrar answers to START_IP_HOOK.
    Result dispatch(uint32_t code, std::span<const uint8_t> in, size_t outputSize,
                    NtStatus registerStatus = STATUS_SUCCESS) {
        switch (code) {
        case START_IP_HOOK: return {registerStatus, {}};
        case STOP_IP_HOOK:
            resetCounters();
            m_local.reset();
            return {};
        case ADD_FILTER: {
            if (in.size() != 168)
                return invalid();
            Rule rule;
            if (!load(in.data(), rule))
                return invalid();
            if (m_rules.size() == kMaxRules)
                return {STATUS_UNSUCCESSFUL, {}};
            m_rules.push_back(rule);
            return {};
        }
        case CLEAR_FILTER:
            m_rules.clear();
            resetCounters();
            return {};
        case GET_PACKET: {
            if (outputSize < 48)
                return invalid();
            if (m_read == m_write)
                return {};
            const CaptureEntry& e = m_ring[m_read];
            m_read = (m_read + 1) % kCaptureRingSlots;
            Result r;
            r.output.resize(8 + e.length);
            std::memcpy(r.output.data(), &e, r.output.size());
            return r;
        }
        case CLEAR_BANDWIDTH: {
            const size_t need = 4 * m_rules.size() + 8;
            Result r;
            if (outputSize < need) {
                r = invalid();
            } else {
                for (const Rule& rule : m_rules)
                    put32(r.output, rule.counter);
                put32(r.output, m_sent);
                put32(r.output, m_received);
            }
            resetCounters();
            return r;
        }
        case SET_PORTS: {
            if (in.size() < 6)
                return invalid();
            const uint16_t index = get16(in.data());
            const uint16_t selector = get16(in.data() + 2);
            const uint16_t count = get16(in.data() + 4);
            if (!((count == 0xFFFF && in.size() == 6) || in.size() == 6 + 2 * size_t{count}))
                return invalid();
            if (index >= m_rules.size())
                return invalid();
            Rule& rule = m_rules[index];
            if (count == 0xFFFF) {
                rule.portCount = count;
            } else if (count > 256) {
                return invalid();
            } else {
                for (uint16_t i = 0; i < count; ++i)
                    rule.ports[i] = get16(in.data() + 6 + 2 * i);
                rule.portCount = count;
            }
            rule.selector = selector;
            return {};
        }
        case SET_LOCALIP: {
            if (in.size() < 4)
                return invalid();
            const uint64_t count = get32(in.data());
            if (count * 4 + 4 != in.size())
                return invalid();
            m_local.emplace();
            for (uint64_t i = 0; i < count; ++i)
                m_local->push_back(raw32(in.data() + 4 + 4 * i));
            return {};
        }
        case START_FILTERING: m_filtering = true; return {};
        case STOP_FILTERING: m_filtering = false; return {};
        case GET_VERSION: {
            if (outputSize < 4)
                return invalid();
            Result r;
            put32(r.output, 1300);
            return r;
        }
        case CHANGE_FILTER: {
            if (in.size() != 172)
                return invalid();
            const uint32_t index = get32(in.data());
            if (index >= m_rules.size())
                return invalid();
            Rule changed = m_rules[index];
            if (!load(in.data() + 4, changed))
                return invalid();
            m_rules[index] = changed;
            return {};
        }
        default: return invalid();
        }
    }

    // true: drop.
    bool decidePacket(std::span<const uint8_t> p) {
        if (p.size() < 20 || (p[0] & 15) < 5 || size_t{p[0] & 15u} * 4 > p.size())
            return false;
        const size_t hl = size_t{p[0] & 15u} * 4;
        return decide(p.first(hl), p.subspan(hl));
    }

    bool decide(std::span<const uint8_t> header, std::span<const uint8_t> data) {
        if (header.size() < 20)
            return false;
        const uint8_t* h = header.data();
        const uint8_t protocol = h[9];
        const uint32_t src = raw32(h + 12);
        const uint32_t dst = raw32(h + 16);
        const uint32_t wire = uint32_t((h[2] << 8) | h[3]) + 14;
        const bool later = (((h[6] << 8) | h[7]) & 0x1FFF) != 0;
        const bool havePorts = !later && data.size() >= 4;
        const bool haveFlags = !later && data.size() >= 14;
        const uint16_t sport = havePorts ? uint16_t((data[0] << 8) | data[1]) : 0;
        const uint16_t dport = havePorts ? uint16_t((data[2] << 8) | data[3]) : 0;

        bool drop = false;
        int index = -1;
        for (size_t i = 0; i < m_rules.size(); ++i) {
            const Rule& r = m_rules[i];
            if (r.record.protocol != 0 && r.record.protocol != protocol)
                continue;
            if (r.record.sourceAddress != 0 &&
                r.record.sourceAddress != (src & r.record.sourceMask))
                continue;
            if (r.record.destinationAddress != 0 &&
                r.record.destinationAddress != (dst & r.record.destinationMask))
                continue;
            if (protocol == 6 || protocol == 17) {
                if (!rangesMatch(r.record, havePorts, sport, dport))
                    continue;
                if (protocol == 6 && !listMatches(r, havePorts, sport, dport))
                    continue;
            }
            index = static_cast<int>(i);
            break;
        }
        if (index < 0) {
            record(-1, header, data);
        } else {
            Rule& r = m_rules[index];
            if (protocol != 6 && protocol != 17) {
                drop = r.record.block != 0;
            } else if (!m_filtering) {
                r.counter += wire;
                record(index, header, data);
            } else if (r.record.block && (protocol == 17 || !r.record.connectionRequestsOnly)) {
                r.counter += wire;
                record(index, header, data);
                drop = true;
            } else if (r.record.block && haveFlags && !(data[13] & 0x10) && (data[13] & 0x02)) {
                drop = true;
            } else if (r.record.limit != 0 && r.counter >= r.record.limit &&
                       wire > r.record.minimumSize) {
                drop = true;
            } else {
                r.counter += wire;
                record(index, header, data);
            }
        }
        if (!m_filtering)
            drop = false;
        if (!drop && m_local) {
            for (uint32_t a : *m_local)
                if (a == src) {
                    m_sent += wire;
                    break;
                }
            for (uint32_t a : *m_local)
                if (a == dst) {
                    m_received += wire;
                    break;
                }
        }
        return drop;
    }

    size_t ruleCount() const { return m_rules.size(); }

    // Back to the state after load, keeping the memory (fuzzers reuse one model).
    void reset() {
        m_rules.clear();
        m_filtering = false;
        m_write = m_read = 0;
        m_local.reset();
        m_sent = m_received = 0;
    }

private:
    struct Rule {
        DriverRule record{};
        uint32_t counter = 0;
        uint16_t selector = 0;
        uint16_t portCount = 0;
        std::vector<uint16_t> ports = std::vector<uint16_t>(256);
    };

    static Result invalid() { return {STATUS_INVALID_PARAMETER, {}}; }
    static uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
    static uint32_t get32(const uint8_t* p) {
        return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16;
    }
    static uint32_t raw32(const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static void put32(std::vector<uint8_t>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    static uint16_t host(uint16_t networkStored) {
        uint8_t b[2];
        std::memcpy(b, &networkStored, 2);
        return uint16_t((b[0] << 8) | b[1]);
    }

    // Replaces the match and action fields; false for range counts above 16.
    static bool load(const uint8_t* bytes, Rule& rule) {
        DriverRule d;
        std::memcpy(&d, bytes, sizeof d);
        if (d.sourceRangeCount > 16 || d.destinationRangeCount > 16)
            return false;
        d.sourceAddress &= d.sourceMask;
        d.destinationAddress &= d.destinationMask;
        rule.record = d;
        return true;
    }

    static bool inAny(const DriverPortRange* ranges, uint32_t count, uint16_t port) {
        for (uint32_t i = 0; i < count; ++i)
            if (host(ranges[i].low) <= port && port <= host(ranges[i].high))
                return true;
        return false;
    }

    static bool rangesMatch(const DriverRule& r, bool havePorts, uint16_t sport, uint16_t dport) {
        const uint32_t s = r.sourceRangeCount;
        const uint32_t d = r.destinationRangeCount;
        if (s == 0 && d == 0)
            return true;
        if (!havePorts)
            return false;
        if (d == 0)
            return inAny(r.sourceRanges, s, sport);
        if (s == 0)
            return inAny(r.destinationRanges, d, dport);
        return inAny(r.destinationRanges, d, dport) && inAny(r.sourceRanges, s, sport);
    }

    static bool listMatches(const Rule& r, bool havePorts, uint16_t sport, uint16_t dport) {
        if (r.portCount == 0)
            return true;
        if (r.portCount == 0xFFFF || !havePorts)
            return false;
        const uint16_t port = r.selector == 0 ? sport : dport;
        for (uint16_t i = 0; i < r.portCount; ++i)
            if (r.ports[i] == port)
                return true;
        return false;
    }

    void record(int index, std::span<const uint8_t> header, std::span<const uint8_t> data) {
        CaptureEntry e{};
        const size_t n = data.size() < 20 ? data.size() : 20;
        e.ruleIndex = index;
        e.length = uint32_t(20 + n);
        std::memcpy(e.ipHeader, header.data(), 20);
        if (n)
            std::memcpy(e.transport, data.data(), n);
        m_ring[m_write] = e;
        m_write = (m_write + 1) % kCaptureRingSlots;
    }

    void resetCounters() {
        for (Rule& r : m_rules)
            r.counter = 0;
        m_sent = m_received = 0;
    }

    std::vector<Rule> m_rules;
    bool m_filtering = false;
    std::vector<CaptureEntry> m_ring = std::vector<CaptureEntry>(kCaptureRingSlots);
    uint32_t m_write = 0;
    uint32_t m_read = 0;
    std::optional<std::vector<uint32_t>> m_local;
    uint32_t m_sent = 0;
    uint32_t m_received = 0;
};

} // namespace ovlank::test
