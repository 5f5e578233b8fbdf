#include "Placeholders.h"

namespace tavrin::commands {

std::string fillPlaceholder(std::string_view line, std::string_view placeholder,
                            std::string_view value) {
    if (placeholder.empty())
        return std::string(line);
    std::string out;
    size_t from = 0;
    for (size_t at = line.find(placeholder); at != std::string_view::npos;
         at = line.find(placeholder, from)) {
        out.append(line.substr(from, at - from)).append(value);
        from = at + placeholder.size();
    }
    out.append(line.substr(from));
    return out;
}

std::string fillFirst(std::string_view line, std::string_view placeholder, std::string_view value) {
    const size_t at = placeholder.empty() ? std::string_view::npos : line.find(placeholder);
    if (at == std::string_view::npos)
        return std::string(line);
    std::string out(line.substr(0, at));
    out.append(value).append(line.substr(at + placeholder.size()));
    return out;
}

std::string fillRow(std::string_view line, const PlaceholderValues& values) {
    // Each placeholder is filled in the text as the row found it: a value is never
    // searched for another row placeholder.
    struct Piece {
        std::string text;
        bool filled;
    };
    std::vector<Piece> pieces{{std::string(line), false}};
    for (const auto& [placeholder, value] : values) {
        if (placeholder.empty())
            continue;
        std::vector<Piece> next;
        for (Piece& piece : pieces) {
            if (piece.filled) {
                next.push_back(std::move(piece));
                continue;
            }
            size_t from = 0;
            const std::string& text = piece.text;
            for (size_t at = text.find(placeholder); at != std::string::npos;
                 at = text.find(placeholder, from)) {
                next.push_back({text.substr(from, at - from), false});
                next.push_back({value, true});
                from = at + placeholder.size();
            }
            next.push_back({text.substr(from), false});
        }
        pieces = std::move(next);
    }
    std::string out;
    for (const Piece& piece : pieces)
        out += piece.text;
    return out;
}

} // namespace tavrin::commands
