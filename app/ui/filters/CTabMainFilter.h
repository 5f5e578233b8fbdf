// The filter list page: the ordered static filters and the commands on them, which
// the main menu "フィルタ(&I)" offers as well.
#pragma once

#include "FilterListPage.h"
#include "PacketFilter.h"

#include <QList>

#include <cstdint>
#include <vector>

namespace tavrin::ui {

inline constexpr char kFilterListFullMessage[] = "これ以上フィルタを追加できません。";
inline constexpr char kProcessMappingWarning[] =
    "Windows2000でのプロセス指定はうまく動作しない、または全く動作しない可能性があります。\n"
    "この点を理解した上で使用してください。\n"
    "このメッセージを2度と出さないようにしますか？";

class CTabMainFilter final : public FilterListPage {
    Q_OBJECT
public:
    CTabMainFilter(PageContext context, QWidget* parent = nullptr);

    // New, edit, delete, up, down, duplicate, enable/disable, in menu order.
    QList<QAction*> menuActions() const;

    // Filtering was switched on or off.
    void filteringChanged(bool filtering);
    // The bandwidth column, with the rules dynamic filters override now: their rows
    // show the overriding copy, in the overridden rows' colours.
    void refreshBandwidth(const std::vector<int32_t>& overriddenRules);
    // Every row rewritten from the settings being edited.
    void refreshRows() override;
    // The session was rebuilt: no dynamic filter acts on a rule until the next
    // evaluation, so no row shows one.
    void rulesReloaded();

    // A filter made elsewhere (the connection page): appended to the list and put
    // in force, its row selected. The caller has checked the list's limit.
    void appendFilter(const PacketFilter& filter);

protected:
    void newItem() override;
    void editItem(int row) override;
    void afterChange() override;
    const char* fullMessage() const override { return kFilterListFullMessage; }

private:
    // Rule indices whose rows show a dynamic filter's copy.
    std::vector<int32_t> m_overriddenRules;
};

} // namespace tavrin::ui
