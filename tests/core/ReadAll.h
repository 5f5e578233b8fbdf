// Reading a whole frame from a socket, for the stand-in daemon and the test peers,
// and everything a stdio file holds, for the headless program's output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
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

// Everything written to `file` so far.
inline std::string fileText(std::FILE* file) {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
        text.push_back(static_cast<char>(c));
    return text;
}

} // namespace tavrin::core::test
