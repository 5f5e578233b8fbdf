// The port list of one end of a filter as the filter editor shows it: entry texts
// in insertion order, filled from what the user types, read back as ranges.
#pragma once

#include "PortRange.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

class Messages;

enum class PortListSide {
    Local,  // entries show the plain range: "80"
    Remote, // entries show the range with its service name: "80 (http)"
};

class PortEntryList final {
public:
    explicit PortEntryList(PortListSide side) : m_side(side) {}

    // The stored ranges as the editor opens them: plain range texts on both sides.
    static PortEntryList fromRanges(PortListSide side, std::span<const PortRange> ranges);

    // Adds what the user typed. Refuses, with a message, a seventeenth entry, a text
    // that ValidatePortSpec refuses, and a range the list already holds (whether
    // shown with its service name or not). True when the entry was added, so the
    // input box is to be emptied.
    bool add(std::string_view typed, Messages& messages);

    // Removes the entry at a position; positions past the end are ignored.
    void removeAt(size_t position);

    const std::vector<std::string>& entries() const { return m_entries; }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    PortListSide side() const { return m_side; }

    // Every entry read back with ParsePortSpec, in list order.
    std::vector<PortRange> ranges() const;

private:
    PortListSide m_side;
    std::vector<std::string> m_entries;
};

} // namespace tavrin
