#include "FilterListEditor.h"

#include <algorithm>

namespace tavrin::ui {

namespace {

// A copy starts with no measurements and no ID: the list gives it a free one.
template <class T> T freshCopy(const T& filter) {
    T copy = filter;
    copy.id = 0;
    copy.appliedDynamicFilterId = 0;
    copy.bandwidthSamples = {};
    copy.currentBandwidth = 0;
    copy.averageBandwidth = 0;
    return copy;
}

} // namespace

int FilterListEditor::count() const {
    return m_kind == FilterListKind::Packet ? m_settings.PacketFilterCount()
                                            : m_settings.DynamicFilterCount();
}

CommonFilter* FilterListEditor::at(int row) {
    if (m_kind == FilterListKind::Packet)
        return m_settings.PacketFilterAt(row);
    return m_settings.DynamicFilterAt(row);
}

bool FilterListEditor::swap(int a, int b) {
    return m_kind == FilterListKind::Packet ? m_settings.SwapPacketFilters(a, b)
                                            : m_settings.SwapDynamicFilters(a, b);
}

std::vector<int> FilterListEditor::normalise(std::vector<int> rows) const {
    const int n = count();
    std::erase_if(rows, [n](int r) { return r < 0 || r >= n; });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::optional<std::vector<int>> FilterListEditor::moveUp(std::vector<int> rows) {
    rows = normalise(std::move(rows));
    if (rows.empty() || rows.front() == 0)
        return std::nullopt;
    for (int& row : rows) {
        swap(row, row - 1);
        --row;
    }
    return rows;
}

std::optional<std::vector<int>> FilterListEditor::moveDown(std::vector<int> rows) {
    rows = normalise(std::move(rows));
    if (rows.empty() || rows.back() == count() - 1)
        return std::nullopt;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        swap(*it, *it + 1);
        ++*it;
    }
    return rows;
}

std::optional<std::vector<int>> FilterListEditor::duplicate(std::vector<int> rows) {
    rows = normalise(std::move(rows));
    if (rows.empty() || count() + static_cast<int>(rows.size()) > kMaxFilters)
        return std::nullopt;
    std::vector<int> copies;
    for (int row : rows) {
        if (m_kind == FilterListKind::Packet)
            m_settings.AddPacketFilter(freshCopy(*m_settings.PacketFilterAt(row)));
        else
            m_settings.AddDynamicFilter(freshCopy(*m_settings.DynamicFilterAt(row)));
        copies.push_back(count() - 1);
    }
    return copies;
}

bool FilterListEditor::remove(std::vector<int> rows) {
    rows = normalise(std::move(rows));
    if (rows.empty())
        return false;
    // Positions past a removed row shift, so the last goes first.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (m_kind == FilterListKind::Dynamic) {
            m_settings.RemoveDynamicFilter(*it, m_messages);
            continue;
        }
        const int32_t id = m_settings.PacketFilterAt(*it)->id;
        m_settings.RemovePacketFilter(*it, m_messages);
        if (id != 0)
            for (const auto& dynamic : m_settings.DynamicFilters())
                std::erase(dynamic->targetFilterIds, id);
    }
    return true;
}

std::optional<std::vector<int>> FilterListEditor::toggle(std::vector<int> rows) {
    rows = normalise(std::move(rows));
    if (rows.empty())
        return std::nullopt;
    for (int row : rows) {
        CommonFilter* filter = at(row);
        filter->available = filter->available == 1 ? 0 : 1;
    }
    return rows;
}

} // namespace tavrin::ui
