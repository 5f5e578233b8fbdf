// The placeholders of an external command line, and filling them with a row's
// values. Filling replaces every occurrence left to right and never looks at what
// it put in, so a value that holds a placeholder's text (a hostile host name, say)
// stays as it is. A value goes in as one literal piece of the word it stands in
// (appendLiteral): its blanks, quotes and backslashes never make or join words.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrin::commands {

// In the order in which the open ones are asked before a run; %UserIn% comes last
// and is asked once per occurrence.
inline constexpr std::array<std::string_view, 14> kAskedPlaceholders = {
    "%LocalAddr%",    "%LocalPort%",   "%RemoteAddr%", "%RemotePort%",  "%RemoteHost%",
    "%RemoteDomain%", "%ProcessName%", "%ProcessID%",  "%ProcessPath%", "%ProcessDir%",
    "%SrcAddr%",      "%SrcPort%",     "%DestAddr%",   "%DestPort%"};
inline constexpr std::string_view kUserInput = "%UserIn%";

// Placeholder → value, for the placeholders a row knows.
using PlaceholderValues = std::vector<std::pair<std::string_view, std::string>>;

// Every occurrence of `placeholder` replaced by `value`.
std::string fillPlaceholder(std::string_view line, std::string_view placeholder,
                            std::string_view value);
// Only the first occurrence (for %UserIn%, asked once per occurrence).
std::string fillFirst(std::string_view line, std::string_view placeholder, std::string_view value);
// Every placeholder of `values`, in their order.
std::string fillRow(std::string_view line, const PlaceholderValues& values);

// The questions before a run: each asked placeholder that occurs, in the order of
// kAskedPlaceholders, then %UserIn% once per occurrence from the left. Answers are
// never searched for placeholders, so no answer can bring on another question.
class CommandExpansion final {
public:
    explicit CommandExpansion(std::string_view line);

    struct Question {
        std::string_view placeholder;
        int counter = 0; // 1, 2, ... for %UserIn%; 0 for the others
        std::string prompt;
    };
    // False once nothing is left to ask; `question` then keeps its old value.
    bool next(Question& question) const;
    // Fills the question next() gave with `value` (an empty one removes it).
    void answer(std::string_view value);
    // The command line with every answer so far.
    std::string line() const;

private:
    struct Piece {
        std::string text;
        bool filled;
    };
    bool occurs(std::string_view placeholder) const;

    std::vector<Piece> m_pieces;
    size_t m_asked = 0; // how many of kAskedPlaceholders are done
    int m_counter = 1;
};

} // namespace tavrin::commands
