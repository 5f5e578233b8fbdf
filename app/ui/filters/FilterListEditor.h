// The list commands of the two filter pages on the settings being edited: moves,
// duplicates, deletions and the enabled switch, each on a set of selected rows.
// Kept free of Qt; the pages add the selection, the session and the messages.
#pragma once

#include "IniFileObject.h"

#include <optional>
#include <vector>

namespace tavrin::ui {

// Both lists hold at most as many filters as the daemon holds rules.
inline constexpr int kMaxFilters = 64;

enum class FilterListKind { Packet, Dynamic };

class FilterListEditor final {
public:
    // `messages` hears of a row that is not there, which the commands rule out.
    FilterListEditor(settings::IniFileObject& settings, FilterListKind kind, Messages& messages)
        : m_settings(settings), m_kind(kind), m_messages(messages) {}

    int count() const;

    // Each takes the selected rows (any order, repeats and rows outside the list
    // ignored) and returns the rows to select afterwards, or nothing when the
    // command changed nothing.

    // Every selected filter, in ascending order, swaps with the one above; nothing
    // when the top row is among them.
    std::optional<std::vector<int>> moveUp(std::vector<int> rows);
    // Every selected filter, in descending order, swaps with the one below; nothing
    // when the bottom row is among them.
    std::optional<std::vector<int>> moveDown(std::vector<int> rows);
    // A copy of each selected filter, in ascending order, at the end of the list,
    // with an ID of its own. Nothing when the copies would take the list past
    // kMaxFilters: then no copy is made at all.
    std::optional<std::vector<int>> duplicate(std::vector<int> rows);
    // Removes every selected filter. A deleted packet filter's ID leaves every
    // dynamic filter's targets as well.
    bool remove(std::vector<int> rows);
    // Switches each selected filter on or off.
    std::optional<std::vector<int>> toggle(std::vector<int> rows);

    // Ascending, without repeats, only rows of the list.
    std::vector<int> normalise(std::vector<int> rows) const;

private:
    bool swap(int a, int b);
    CommonFilter* at(int row);

    settings::IniFileObject& m_settings;
    FilterListKind m_kind;
    Messages& m_messages;
};

} // namespace tavrin::ui
