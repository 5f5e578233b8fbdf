#include "TextEncoding.h"

#include "PlainText.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <optional>

namespace tavrin::settings {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// One converter from CP932 for a whole decoding.
class Cp932Converter final {
public:
    Cp932Converter() : m_cd(::iconv_open("UTF-8", "CP932")) {}
    ~Cp932Converter() {
        if (ready())
            ::iconv_close(m_cd);
    }
    Cp932Converter(const Cp932Converter&) = delete;
    Cp932Converter& operator=(const Cp932Converter&) = delete;

    bool ready() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Appends the bytes converted to `out`. Without `lenient`, false at the first
    // byte that does not convert (what was appended stays); with it, such a byte
    // becomes "?" and the conversion goes on behind it.
    bool append(std::string_view bytes, std::string& out, bool lenient) {
        if (!ready()) {
            // Without the converter only ASCII can be read.
            for (char c : bytes) {
                if (static_cast<unsigned char>(c) >= 0x80 && !lenient)
                    return false;
                out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
            }
            return true;
        }
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        // iconv takes a non-const input pointer but does not write through it.
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char chunk[4096];
        while (inLeft > 0) {
            char* to = chunk;
            size_t toLeft = sizeof chunk;
            const size_t rc = ::iconv(m_cd, &in, &inLeft, &to, &toLeft);
            out.append(chunk, static_cast<size_t>(to - chunk));
            if (rc != static_cast<size_t>(-1) || errno == E2BIG)
                continue;
            // EILSEQ, or EINVAL for a lead byte at the very end.
            if (!lenient)
                return false;
            out.push_back('?');
            ++in;
            --inLeft;
            ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t m_cd;
};

// Valid UTF-8 holding a character of three bytes or more.
bool looksLikeUtf8Text(std::string_view line) {
    bool wide = false;
    while (!line.empty()) {
        const size_t len = utf8SequenceLength(line);
        if (len == 0)
            return false;
        wide = wide || len >= 3;
        line.remove_prefix(len);
    }
    return wide;
}

// Calls visit(lineNumber, bytes) for every line, split at LF (the LF left out, a CR
// before it kept); a last line without an LF counts.
template <class Visit> void forEachLine(std::string_view bytes, Visit visit) {
    size_t number = 0;
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        visit(number++, bytes.substr(0, end));
        if (end == std::string_view::npos)
            break;
        bytes.remove_prefix(end + 1);
    }
}

std::optional<std::string> wholeFileFromCp932(std::string_view bytes, Cp932Converter& cp932) {
    bool utf8Text = false;
    forEachLine(bytes, [&](size_t, std::string_view line) {
        utf8Text = utf8Text || looksLikeUtf8Text(line);
    });
    if (utf8Text)
        return std::nullopt;
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (!cp932.append(bytes, out, false))
        return std::nullopt;
    return out;
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        // ASCII runs are most of a settings file.
        if (static_cast<unsigned char>(bytes.front()) < 0x80) {
            bytes.remove_prefix(1);
            continue;
        }
        const size_t len = utf8SequenceLength(bytes);
        if (len == 0)
            return false;
        bytes.remove_prefix(len);
    }
    return true;
}

DecodedText decodeFileText(std::string file) {
    DecodedText result;
    if (std::string_view(file).starts_with(kByteOrderMark))
        file.erase(0, kByteOrderMark.size());
    if (isValidUtf8(file)) {
        // Most files: the text is the bytes themselves, taken over without a copy.
        result.text = std::move(file);
        return result;
    }
    const std::string_view bytes = file;
    Cp932Converter cp932;
    if (auto whole = wholeFileFromCp932(bytes, cp932)) {
        result.text = std::move(*whole);
        return result;
    }
    result.text.reserve(bytes.size() + bytes.size() / 4);
    const bool endsWithLineBreak = bytes.ends_with('\n');
    forEachLine(bytes, [&](size_t number, std::string_view line) {
        if (number != 0)
            result.text.push_back('\n');
        if (isValidUtf8(line)) {
            result.text.append(line);
            return;
        }
        if (result.firstUncleanLine == 0)
            result.firstUncleanLine = number + 1;
        std::string_view kept = line;
        if (kept.ends_with('\r'))
            kept.remove_suffix(1);
        result.originalLines.push_back({number, std::string(kept)});
        cp932.append(line, result.text, true);
    });
    if (endsWithLineBreak)
        result.text.push_back('\n');
    return result;
}

std::string mixedEncodingMessage(std::string_view file, size_t line) {
    std::string text(sizeof kMessageMixedEncodingFormat + file.size() + 32, '\0');
    const std::string name(file);
    const int n =
        std::snprintf(text.data(), text.size(), kMessageMixedEncodingFormat, name.c_str(), line);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

} // namespace tavrin::settings
