// A text field with a length limit, such as a filter's name or comment. The length
// is counted as the Windows version counted it (legacyTextWidth: 1 for ASCII and
// half-width katakana, 2 for other characters), so a text of that version fits as
// it was. Longer texts are cut to the limit, never in the middle of a character; a
// NUL ends the text, as it would a fixed character buffer.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "PlainText.h"

namespace tavrin {

template <size_t MaxWidth> class BoundedText {
public:
    static constexpr size_t kMaxWidth = MaxWidth;

    BoundedText() = default;
    explicit BoundedText(std::string_view text) { assign(text); }

    BoundedText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    BoundedText& operator=(const char* text) { return *this = std::string_view(text); }
    BoundedText& operator=(const std::string& text) { return *this = std::string_view(text); }

    // False when the text was cut (at its limit or at a NUL).
    bool assign(std::string_view text) {
        const size_t whole = text.size();
        if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
            text = text.substr(0, nul);
        m_text.assign(legacyTextPrefix(text, MaxWidth));
        return m_text.size() == whole;
    }

    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }
    operator std::string_view() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    size_t size() const { return m_text.size(); } // in bytes

    bool operator==(const BoundedText&) const = default;
    friend bool operator==(const BoundedText& a, std::string_view b) { return a.m_text == b; }
    friend std::ostream& operator<<(std::ostream& out, const BoundedText& t) {
        return out << t.m_text;
    }

private:
    std::string m_text;
};

} // namespace tavrin
