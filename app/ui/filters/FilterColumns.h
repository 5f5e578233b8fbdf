// What the two filter lists show in their cells: the headings and alignment of each
// column and the texts of a row. Kept free of Qt so that the texts can be checked
// without a window.
#pragma once

#include "DynamicFilter.h"
#include "IniFileObject.h"
#include "PacketFilter.h"

#include <array>
#include <string>
#include <string_view>

#include "ColumnHeading.h"

namespace tavrin::ui {

inline constexpr size_t kFilterColumnCount = 16;
inline constexpr size_t kDynamicFilterColumnCount = 7;

inline constexpr std::array<ColumnHeading, kFilterColumnCount> kFilterColumns = {{
    {"優先度 フィルタ名", true},
    {"プロトコル", true, "その他"},
    {"ファイアウォール", false, "接続要求のみ遮断"},
    {"現在の帯域", true, "9999.9 KB/s"},
    {"制限帯域", true, "99999 KB/s"},
    {"方向", false, "OTHER"},
    {"プロセス名", false},
    {"作用している動的フィルタ", false},
    {"ローカルIPアドレス", false, "255.255.255.255"},
    {"リモートIPアドレス", false, "255.255.255.255"},
    {"ローカルポート", false},
    {"リモートポート", false},
    {"ローカルIPマスク", false, "255.255.255.255"},
    {"リモートIPマスク", false, "255.255.255.255"},
    {"最小パケットサイズ", true, "1500 Byte"},
    {"コメント", false},
}};

inline constexpr std::array<ColumnHeading, kDynamicFilterColumnCount> kDynamicFilterColumns = {{
    {"比較順番 フィルタ名", false},
    {"対象フィルタ", false},
    {"条件", false},
    {"ファイアウォール", false, "接続要求のみ遮断"},
    {"制限帯域", true, "99999 KB/s"},
    {"最小パケットサイズ", true, "1500 Byte"},
    {"コメント", false},
}};

inline constexpr std::string_view kNotMeasuredText = "未計測";
inline constexpr std::string_view kNoDynamicFilterText = "なし";
inline constexpr std::string_view kAllText = "All";

// "通過", "接続要求のみ遮断" or "遮断".
std::string_view firewallText(const CommonFilter& filter);
// "30 KB/s", "無制限", or empty for a filter that drops everything it matches.
std::string limitText(const CommonFilter& filter);

// The row of the packet filter list at `position` (0-based). `shown` is the filter of
// the settings being edited, or the copy a dynamic filter made of it while it
// overrides the rule. The bandwidth and the process's ports are measured on the
// filter of the settings in force with the same ID; the applied dynamic filter is
// named from the settings being edited.
std::array<std::string, kFilterColumnCount> filterRowTexts(const PacketFilter& shown, int position,
                                                           const settings::IniFileObject& edited,
                                                           const settings::IniFileObject& inForce);

// The row of the dynamic filter list at `position`; target and trigger filters are
// named from the packet filters of `edited`.
std::array<std::string, kDynamicFilterColumnCount>
dynamicFilterRowTexts(const DynamicFilter& filter, int position,
                      const settings::IniFileObject& edited);

} // namespace tavrin::ui
