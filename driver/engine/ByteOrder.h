// Reading fields out of request and packet bytes that may sit at any alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace ovlank {

inline uint16_t loadLittle16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t loadLittle32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void storeLittle32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

inline uint16_t loadBig16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// A network-order field kept as it stands in memory: compared, never converted.
inline uint32_t loadRaw32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// A 16-bit field of a record that holds network-order bytes, to host order.
inline uint16_t networkToHost16(uint16_t stored) {
    uint8_t bytes[2];
    std::memcpy(bytes, &stored, sizeof bytes);
    return loadBig16(bytes);
}

} // namespace ovlank
