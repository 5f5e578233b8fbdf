#include "PortEntryList.h"

#include "Messages.h"
#include "PortSpec.h"

namespace tavrin {

PortEntryList PortEntryList::fromRanges(PortListSide side, std::span<const PortRange> ranges) {
    PortEntryList list(side);
    for (const PortRange& r : ranges)
        list.m_entries.push_back(FormatPortRange(r));
    return list;
}

bool PortEntryList::add(std::string_view typed, Messages& messages) {
    if (m_entries.size() >= kMaxPortRanges) {
        messages.show(kPortListFullMessage);
        return false;
    }
    if (!ValidatePortSpec(typed, messages))
        return false;
    const PortRange range = ParsePortSpec(typed);
    std::string text =
        m_side == PortListSide::Local ? FormatPortRange(range) : FormatPortLabel(range);
    // Entries loaded from the settings carry no service name, so "80" and
    // "80 (http)" must count as the same entry.
    for (const std::string& existing : m_entries) {
        if (existing == text || ParsePortSpec(existing) == range) {
            messages.show(kPortDuplicateMessage);
            return false;
        }
    }
    m_entries.push_back(std::move(text));
    return true;
}

void PortEntryList::removeAt(size_t position) {
    if (position < m_entries.size())
        m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(position));
}

std::vector<PortRange> PortEntryList::ranges() const {
    std::vector<PortRange> out;
    out.reserve(m_entries.size());
    for (const std::string& e : m_entries)
        out.push_back(ParsePortSpec(e));
    return out;
}

} // namespace tavrin
