// The options and window layout of the settings file's "Common Settings" section,
// with their keys and defaults. IniFileObject holds one and adds the filter lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin::settings {

inline constexpr char kCommonSectionName[] = "Common Settings";
inline constexpr int32_t kIniFileVersion = 1300;
inline constexpr int32_t kDefaultBandwidthControlTime = 250;
// Counted with legacyTextWidth, as the Windows version counted its bytes.
inline constexpr size_t kMaxCommonSectionNameWidth = 63;

// The five list controls whose column widths and order are kept.
enum class ColumnList { Filter, DynamicFilter, TcpConnection, TcpPacket, UdpPacket };
inline constexpr size_t kColumnListCount = 5;
inline constexpr size_t kMaxColumns = 16;

struct ColumnListInfo {
    ColumnList list;
    size_t count;
    const char* sizeKey;
    const char* orderKey;
    std::array<int32_t, kMaxColumns> defaultSizes;
};

inline constexpr std::array<ColumnListInfo, kColumnListCount> kColumnLists = {{
    {ColumnList::Filter,
     16,
     "LCFILTER_COLUMN_SIZE",
     "LCFILTER_COLUMN_ORDER",
     {130, 59, 85, 80, 65, 39, 65, 101, 101, 96, 82, 82, 109, 109, 102, 95}},
    {ColumnList::DynamicFilter,
     7,
     "LCDYNAMICFILTER_COLUMN_SIZE",
     "LCDYNAMICFILTER_COLUMN_ORDER",
     {130, 100, 200, 80, 65, 39, 65}},
    {ColumnList::TcpConnection,
     13,
     "LCTCPCONNECTION_COLUMN_SIZE",
     "LCTCPCONNECTION_COLUMN_ORDER",
     {60, 100, 100, 102, 82, 102, 170, 79, 89, 63, 63, 63, 130}},
    {ColumnList::TcpPacket,
     14,
     "LCTCPPACKET_COLUMN_SIZE",
     "LCTCPPACKET_COLUMN_ORDER",
     {60, 69, 62, 64, 63, 38, 100, 110, 103, 104, 90, 93, 69, 87}},
    {ColumnList::UdpPacket,
     10,
     "LCUDPPACKET_COLUMN_SIZE",
     "LCUDPPACKET_COLUMN_ORDER",
     {60, 69, 62, 64, 63, 38, 100, 110, 103, 104}},
}};

inline constexpr const ColumnListInfo& columnListInfo(ColumnList list) {
    return kColumnLists[static_cast<size_t>(list)];
}

// The message the user may choose not to see again.
inline constexpr size_t kMessageFlagCount = 2;
inline constexpr size_t kMessageFlagProcessBoundOnOldSystem = 0;

struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 800;
    int32_t bottom = 500;
    bool operator==(const WindowRect&) const = default;
};

// Plain values; IniFileObject gives them their getters and setters.
struct CommonSettings {
    int32_t portProcessMapping = 1;
    int32_t autoSave = 1;
    int32_t bandwidthControlTime = kDefaultBandwidthControlTime;
    int32_t startupMinimize = 0;
    int32_t startupOn = 0;
    int32_t noIcon = 0;
    int32_t systemCheck = 0;
    int32_t confirmClose = 0;
    int32_t showActiveConnectionOnly = 0;
    int32_t showListening = 0;
    int32_t closeButtonAction = 0;
    int32_t maxPacketCaptureNum = 100;
    int32_t timeToCalcAverageBandwidth = 5;
    int32_t doDynamicFiltering = 1;
    std::string commonSectionName = kCommonSectionName;
    std::array<std::array<int32_t, kMaxColumns>, kColumnListCount> columnSizes{};
    std::array<std::array<int32_t, kMaxColumns>, kColumnListCount> columnOrders{};
    WindowRect window;
    std::array<int32_t, kMessageFlagCount> messageFlags{};

    CommonSettings() {
        for (const ColumnListInfo& info : kColumnLists) {
            const auto i = static_cast<size_t>(info.list);
            columnSizes[i] = info.defaultSizes;
            for (size_t c = 0; c < kMaxColumns; ++c)
                columnOrders[i][c] = c < info.count ? static_cast<int32_t>(c) : 0;
        }
    }
    bool operator==(const CommonSettings&) const = default;
};

} // namespace tavrin::settings
