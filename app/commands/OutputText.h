// A child's output as text for the output box: UTF-8, with every byte that is not
// part of a well-formed character shown as "?", also when a character arrives in
// two reads. CR LF and a lone CR end a line; other control bytes but tab show as
// "?"; a line longer than the limit is broken, so that a bound on the number of
// lines bounds the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavrin::commands {

class OutputText final {
public:
    static constexpr size_t kDefaultMaxLine = 2000; // characters

    explicit OutputText(size_t maxLine = kDefaultMaxLine) : m_maxLine(maxLine ? maxLine : 1) {}

    // The text for the next bytes of the output. A character cut at the end is
    // held back for the next call.
    std::string decode(std::string_view bytes);
    // The output has ended: what was held back (a cut character shows as "?").
    std::string finish();

private:
    void put(std::string& out, std::string_view character);

    size_t m_maxLine;
    size_t m_lineLength = 0;
    bool m_pendingCr = false;
    std::string m_held;
};

} // namespace tavrin::commands
