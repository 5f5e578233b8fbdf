#include "TextEncoding.h"

#include <cerrno>
#include <iconv.h>

namespace tavrin::settings {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when it is not one.
size_t sequenceLength(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80)
        return 1;
    size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < len)
        return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    if (b1 < lo || b1 > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if (!isContinuation(static_cast<unsigned char>(s[i])))
            return 0;
    return len;
}

std::string fromCp932(std::string_view bytes) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter, keep what is ASCII and mark the rest.
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80)
                out.push_back(c);
            else
                out.append(kReplacement);
        }
        return out;
    }
    out.reserve(bytes.size() * 3 / 2 + 16);
    std::string in(bytes);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char chunk[1024];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof chunk;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a lead byte at the very end): skip one byte.
            out.append(kReplacement);
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const size_t len = sequenceLength(bytes);
        if (len == 0)
            return false;
        bytes.remove_prefix(len);
    }
    return true;
}

std::string decodeFileText(std::string_view bytes) {
    if (bytes.starts_with(kByteOrderMark))
        bytes.remove_prefix(kByteOrderMark.size());
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return fromCp932(bytes);
}

std::string_view utf8Prefix(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Step back over continuation bytes to the start of the character that would be cut.
    while (end > 0 && isContinuation(static_cast<unsigned char>(text[end])))
        --end;
    return text.substr(0, end);
}

} // namespace tavrin::settings
