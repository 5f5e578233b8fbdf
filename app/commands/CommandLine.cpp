#include "CommandLine.h"

namespace tavrin::commands {

namespace {

// Line breaks count as blanks: a line pasted with its line end still runs.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t backslashRun(std::string_view text, size_t at) {
    size_t n = 0;
    while (at + n < text.size() && text[at + n] == '\\')
        ++n;
    return n;
}

// Walks `text` as splitCommandLine reads it; `emit(char)` gets each character of a
// word, `boundary()` each blank outside quotes, `touch()` marks the word as begun.
template <typename Emit, typename Boundary, typename Touch>
bool walk(std::string_view text, Emit emit, Boundary boundary, Touch touch) {
    bool quoted = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\\') {
            const size_t n = backslashRun(text, i);
            touch();
            if (i + n < text.size() && text[i + n] == '"') {
                for (size_t k = 0; k < n / 2; ++k)
                    emit('\\');
                if (n % 2 == 1) {
                    emit('"');
                    i += n + 1;
                } else {
                    i += n; // the quote itself is read next
                }
            } else {
                for (size_t k = 0; k < n; ++k)
                    emit('\\');
                i += n;
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            touch();
        } else if (isBlank(c) && !quoted) {
            boundary();
        } else {
            touch();
            emit(c);
        }
        ++i;
    }
    return quoted;
}

bool needsQuoting(std::string_view value) {
    for (char c : value)
        if (isBlank(c) || c == '"' || c == '\\')
            return true;
    return false;
}

// The value as it reads between quotes: a quote becomes \", and backslashes double
// where they stand before a quote or at the end (where a quote will follow).
std::string escapedForQuotes(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size();) {
        if (value[i] == '\\') {
            const size_t n = backslashRun(value, i);
            const bool beforeQuote = i + n == value.size() || value[i + n] == '"';
            out.append(beforeQuote ? 2 * n : n, '\\');
            i += n;
        } else if (value[i] == '"') {
            out += "\\\"";
            ++i;
        } else {
            out += value[i++];
        }
    }
    return out;
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    walk(
        line, [&](char c) { word += c; },
        [&] {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        },
        [&] { inWord = true; });
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

bool endsInsideQuotes(std::string_view text) {
    return walk(
        text, [](char) {}, [] {}, [] {});
}

void appendLiteral(std::string& line, std::string_view value) {
    if (value.empty())
        return;
    if (!needsQuoting(value)) {
        line += value;
        return;
    }
    const bool quoted = endsInsideQuotes(line);
    // Backslashes at the end of the line are literal there; a quote is about to
    // follow them, so they double to stay literal.
    size_t trailing = 0;
    while (trailing < line.size() && line[line.size() - 1 - trailing] == '\\')
        ++trailing;
    line.append(trailing, '\\');
    const std::string escaped = escapedForQuotes(value);
    if (!quoted) {
        line += '"';
        line += escaped;
        line += '"';
        return;
    }
    // Inside quotes: close and reopen them around the value wherever backslashes
    // meet it, so that no run of them reaches across its edges.
    if (trailing > 0)
        line += "\"\"";
    line += escaped;
    if (value.back() == '\\')
        line += "\"\"";
}

} // namespace tavrin::commands
