#include "Placeholders.h"

#include "CommandLine.h"

namespace tavrin::commands {

namespace {

constexpr std::string_view kPromptTail = " と置き換える文字列を入力してください。";

struct Piece {
    std::string text;
    bool filled;
};

// Splits the unfilled pieces at the occurrences of `placeholder` (only the first
// one when `firstOnly`), putting `value` in their place as filled pieces.
template <typename PieceT>
bool fillPieces(std::vector<PieceT>& pieces, std::string_view placeholder, std::string_view value,
                bool firstOnly) {
    if (placeholder.empty())
        return false;
    bool done = false;
    std::vector<PieceT> next;
    for (PieceT& piece : pieces) {
        if (piece.filled || (firstOnly && done)) {
            next.push_back(std::move(piece));
            continue;
        }
        const std::string& text = piece.text;
        size_t from = 0;
        for (size_t at = text.find(placeholder); at != std::string::npos;
             at = text.find(placeholder, from)) {
            next.push_back({text.substr(from, at - from), false});
            next.push_back({std::string(value), true});
            from = at + placeholder.size();
            done = true;
            if (firstOnly)
                break;
        }
        next.push_back({text.substr(from), false});
    }
    pieces = std::move(next);
    return done;
}

// The pieces as one command line: each filled value as a literal piece of its word,
// in the quoting that the text before it leaves.
template <typename PieceT> std::string join(const std::vector<PieceT>& pieces) {
    std::string out;
    for (const PieceT& piece : pieces) {
        if (piece.filled)
            appendLiteral(out, piece.text);
        else
            out += piece.text;
    }
    return out;
}

} // namespace

std::string fillPlaceholder(std::string_view line, std::string_view placeholder,
                            std::string_view value) {
    std::vector<Piece> pieces{{std::string(line), false}};
    fillPieces(pieces, placeholder, value, false);
    return join(pieces);
}

std::string fillFirst(std::string_view line, std::string_view placeholder, std::string_view value) {
    std::vector<Piece> pieces{{std::string(line), false}};
    fillPieces(pieces, placeholder, value, true);
    return join(pieces);
}

std::string fillRow(std::string_view line, const PlaceholderValues& values) {
    // Each placeholder is filled in the text as the row found it: a value is never
    // searched for another row placeholder.
    std::vector<Piece> pieces{{std::string(line), false}};
    for (const auto& [placeholder, value] : values)
        fillPieces(pieces, placeholder, value, false);
    return join(pieces);
}

CommandExpansion::CommandExpansion(std::string_view line) : m_pieces{{std::string(line), false}} {}

bool CommandExpansion::occurs(std::string_view placeholder) const {
    for (const Piece& piece : m_pieces)
        if (!piece.filled && piece.text.find(placeholder) != std::string::npos)
            return true;
    return false;
}

bool CommandExpansion::next(Question& question) const {
    for (size_t i = m_asked; i < kAskedPlaceholders.size(); ++i) {
        if (occurs(kAskedPlaceholders[i])) {
            question = {kAskedPlaceholders[i], 0,
                        std::string(kAskedPlaceholders[i]).append(kPromptTail)};
            return true;
        }
    }
    if (!occurs(kUserInput))
        return false;
    question = {
        kUserInput, m_counter,
        std::to_string(m_counter).append(" 番目の ").append(kUserInput).append(kPromptTail)};
    return true;
}

void CommandExpansion::answer(std::string_view value) {
    Question question;
    if (!next(question))
        return;
    if (question.counter == 0) {
        fillPieces(m_pieces, question.placeholder, value, false);
        while (m_asked < kAskedPlaceholders.size() &&
               kAskedPlaceholders[m_asked] != question.placeholder)
            ++m_asked;
        ++m_asked;
        return;
    }
    fillPieces(m_pieces, kUserInput, value, true);
    ++m_counter;
}

std::string CommandExpansion::line() const {
    return join(m_pieces);
}

} // namespace tavrin::commands
