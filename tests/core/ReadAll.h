// Reading a whole frame from a socket, for the stand-in daemon and the test peers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace tavrin::core::test {

// Reads exactly `length` bytes; false when the peer closed or the read failed first.
inline bool readAll(int fd, void* data, size_t length) {
    auto* p = static_cast<uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::read(fd, p, length);
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace tavrin::core::test
