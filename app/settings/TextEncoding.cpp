#include "TextEncoding.h"

#include "PlainText.h"

#include <cerrno>
#include <iconv.h>

namespace tavrin::settings {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

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
        const size_t len = utf8SequenceLength(bytes);
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

} // namespace tavrin::settings
