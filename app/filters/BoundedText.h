// A text field with a byte limit, such as a filter's name or comment. Longer texts
// are cut to the limit, never in the middle of a multi-byte character; a NUL ends
// the text, as it would a fixed character buffer.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "PlainText.h"

namespace tavrin {

template <size_t MaxBytes> class BoundedText {
public:
    static constexpr size_t kMaxBytes = MaxBytes;

    BoundedText() = default;
    explicit BoundedText(std::string_view text) { assign(text); }

    BoundedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    BoundedText& operator=(const char* text) { return *this = std::string_view(text); }
    BoundedText& operator=(const std::string& text) { return *this = std::string_view(text); }

    void assign(std::string_view text) {
        if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
            text = text.substr(0, nul);
        m_text.assign(utf8Prefix(text, MaxBytes));
    }

    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }
    operator std::string_view() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    size_t size() const { return m_text.size(); }

    bool operator==(const BoundedText&) const = default;
    friend bool operator==(const BoundedText& a, std::string_view b) { return a.m_text == b; }
    friend std::ostream& operator<<(std::ostream& out, const BoundedText& t) {
        return out << t.m_text;
    }

private:
    std::string m_text;
};

} // namespace tavrin
