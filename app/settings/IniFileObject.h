// The settings model: every option of the "Common Settings" section and the two
// ordered filter lists, which own their records. The program holds two: the
// settings in force and the settings being edited.
#pragma once

#include "AdapterList.h"
#include "CommonSettings.h"
#include "DynamicFilter.h"
#include "Messages.h"
#include "PacketFilter.h"

#include <memory>
#include <optional>
#include <vector>

namespace tavrin::settings {

inline constexpr char kMessageBadIndex[] = "indexが不正";

class IniFileObject {
public:
    IniFileObject() = default;
    virtual ~IniFileObject() = default;
    // Copies every option and a copy of every filter in order, IDs included.
    IniFileObject(const IniFileObject& other);
    IniFileObject& operator=(const IniFileObject& other);

    // Only the options: the filter lists stay as they are.
    void CopyOptionsFrom(const IniFileObject& other);

    // -- Options -----------------------------------------------------------------
    int32_t GetPortProcessMapping() const { return m_common.portProcessMapping; }
    void SetPortProcessMapping(int32_t v) { m_common.portProcessMapping = v; }
    int32_t GetAutoSave() const { return m_common.autoSave; }
    void SetAutoSave(int32_t v) { m_common.autoSave = v; }
    int32_t GetBandwidthControlTime() const { return m_common.bandwidthControlTime; }
    void SetBandwidthControlTime(int32_t v) { m_common.bandwidthControlTime = v; }
    int32_t GetStartupMinimize() const { return m_common.startupMinimize; }
    void SetStartupMinimize(int32_t v) { m_common.startupMinimize = v; }
    int32_t GetStartupOn() const { return m_common.startupOn; }
    void SetStartupOn(int32_t v) { m_common.startupOn = v; }
    int32_t GetNoIcon() const { return m_common.noIcon; }
    void SetNoIcon(int32_t v) { m_common.noIcon = v; }
    int32_t GetSystemCheck() const { return m_common.systemCheck; }
    void SetSystemCheck(int32_t v) { m_common.systemCheck = v; }
    int32_t GetConfirmClose() const { return m_common.confirmClose; }
    void SetConfirmClose(int32_t v) { m_common.confirmClose = v; }
    int32_t GetShowActiveConnectionOnly() const { return m_common.showActiveConnectionOnly; }
    void SetShowActiveConnectionOnly(int32_t v) { m_common.showActiveConnectionOnly = v; }
    int32_t GetShowListening() const { return m_common.showListening; }
    void SetShowListening(int32_t v) { m_common.showListening = v; }
    int32_t GetCloseButtonAction() const { return m_common.closeButtonAction; }
    void SetCloseButtonAction(int32_t v) { m_common.closeButtonAction = v; }
    int32_t GetMaxPacketCaptureNum() const { return m_common.maxPacketCaptureNum; }
    void SetMaxPacketCaptureNum(int32_t v) { m_common.maxPacketCaptureNum = v; }
    int32_t GetTimeToCalcAverageBandwidth() const { return m_common.timeToCalcAverageBandwidth; }
    void SetTimeToCalcAverageBandwidth(int32_t v) { m_common.timeToCalcAverageBandwidth = v; }
    int32_t GetDoDynamicFiltering() const { return m_common.doDynamicFiltering; }
    void SetDoDynamicFiltering(int32_t v) { m_common.doDynamicFiltering = v; }
    const std::string& GetCommonSectionName() const { return m_common.commonSectionName; }
    // Cut to 63 as legacyTextWidth counts, never inside a character.
    void SetCommonSectionName(std::string_view name);

    // Column widths and orders by index; an index at or past the list's column
    // count reads 0 and is ignored on setting.
    static size_t ColumnCount(ColumnList list) { return columnListInfo(list).count; }
    int32_t GetColumnSize(ColumnList list, size_t index) const;
    void SetColumnSize(ColumnList list, size_t index, int32_t width);
    int32_t GetColumnOrder(ColumnList list, size_t index) const;
    void SetColumnOrder(ColumnList list, size_t index, int32_t column);

    const WindowRect& GetWindowRect() const { return m_common.window; }
    // Stored only when top and right are both 0 or more: a minimised window's
    // rectangle is not kept.
    void SetWindowRect(const WindowRect& rect);

    // Message flags 0 and 1; other indices read 0 and are ignored.
    void SetMessageFlag(size_t index);
    int32_t GetMessageFlag(size_t index) const;

    const CommonSettings& Common() const { return m_common; }
    CommonSettings& Common() { return m_common; }

    // -- Packet filters ----------------------------------------------------------
    // A record with ID 0 gets the smallest ID from 1 to 63 that no packet filter
    // uses (0 when all are taken); a copy is appended.
    void AddPacketFilter(const PacketFilter& filter);
    // A copy at the position (0 to the count), its ID unchanged; false otherwise.
    bool InsertPacketFilter(int position, const PacketFilter& filter);
    // Gives every packet filter with ID 0, in list order, the smallest free ID (0
    // once all are taken).
    void AssignFreePacketFilterIds();
    bool SwapPacketFilters(int a, int b);
    // A position outside the list shows "indexが不正" and removes nothing.
    bool RemovePacketFilter(int position, Messages& messages);
    void ClearPacketFilters() { m_packetFilters.clear(); }
    PacketFilter* FindPacketFilterById(int32_t id);
    const PacketFilter* FindPacketFilterById(int32_t id) const;
    int PacketFilterCount() const { return static_cast<int>(m_packetFilters.size()); }
    int AvailablePacketFilterCount() const;
    // Position 0 to count - 1; nullptr outside.
    PacketFilter* PacketFilterAt(int position);
    const PacketFilter* PacketFilterAt(int position) const;

    struct AvailableFilter {
        PacketFilter* filter;
        int position; // in the whole list
    };
    // The n-th (from 0) enabled packet filter: the filter of driver rule n.
    std::optional<AvailableFilter> NthAvailablePacketFilter(int n);
    int IndexOfPacketFilterId(int32_t id) const;
    // The ID at a position; 0 for -1 or any position outside the list.
    int32_t IdAtPosition(int position) const;

    // After the adapter list was rebuilt: every filter finds its adapter again by
    // name, then filters whose local address follows their adapter take the
    // adapter's present address when it has one and it differs. True when any
    // address changed.
    bool RefreshLocalAddresses(const AdapterList& adapters);

    // -- Dynamic filters ---------------------------------------------------------
    void AddDynamicFilter(const DynamicFilter& filter);
    bool InsertDynamicFilter(int position, const DynamicFilter& filter);
    bool SwapDynamicFilters(int a, int b);
    bool RemoveDynamicFilter(int position, Messages& messages);
    void ClearDynamicFilters() { m_dynamicFilters.clear(); }
    DynamicFilter* FindDynamicFilterById(int32_t id);
    const DynamicFilter* FindDynamicFilterById(int32_t id) const;
    int DynamicFilterCount() const { return static_cast<int>(m_dynamicFilters.size()); }
    DynamicFilter* DynamicFilterAt(int position);
    const DynamicFilter* DynamicFilterAt(int position) const;

    const std::vector<std::unique_ptr<PacketFilter>>& PacketFilters() const {
        return m_packetFilters;
    }
    const std::vector<std::unique_ptr<DynamicFilter>>& DynamicFilters() const {
        return m_dynamicFilters;
    }

private:
    CommonSettings m_common;
    std::vector<std::unique_ptr<PacketFilter>> m_packetFilters;
    std::vector<std::unique_ptr<DynamicFilter>> m_dynamicFilters;
};

} // namespace tavrin::settings
