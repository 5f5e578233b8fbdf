// The dynamic filter page: the dynamic filters in their comparison order.
#pragma once

#include "FilterListPage.h"

namespace tavrin::ui {

inline constexpr char kDynamicFilterListFullMessage[] = "これ以上動的フィルタを追加できません。";

class CTabDynamicFilter final : public FilterListPage {
    Q_OBJECT
public:
    CTabDynamicFilter(PageContext context, QWidget* parent = nullptr);

    // Every row rewritten from the settings being edited.
    void refreshRows() override;

protected:
    void newItem() override;
    void editItem(int row) override;
    void afterChange() override;
    const char* fullMessage() const override { return kDynamicFilterListFullMessage; }
};

} // namespace tavrin::ui
