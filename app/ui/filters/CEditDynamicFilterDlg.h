// "動的フィルタ編集": the dialog in which one dynamic filter is made or changed: its
// target filters, its conditions and the action it gives its targets.
#pragma once

#include "DynamicFilter.h"

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui {
class CEditDynamicFilterDlg;
}

namespace tavrin {
class Messages;
namespace settings {
class IniFileObject;
}
} // namespace tavrin

class QLineEdit;

namespace tavrin::ui {

class ActionControls;

// A bound of a condition: 0 (no bound) up to what the settings file holds.
inline constexpr long long kMaxConditionBound = 2147483647;

class CEditDynamicFilterDlg final : public QDialog {
    Q_OBJECT
public:
    // The target list and the filter-bandwidth choice list the packet filters of
    // `settings`, by name in list order.
    CEditDynamicFilterDlg(const settings::IniFileObject& settings, Messages& messages,
                          QWidget* parent = nullptr);
    ~CEditDynamicFilterDlg() override;

    void load(const DynamicFilter& filter);
    // After OK. An empty name becomes "NewFilter"; the enabled state and the ID
    // stay as they are.
    void store(DynamicFilter& filter) const;

    Ui::CEditDynamicFilterDlg& form() const { return *m_form; }

public slots:
    void accept() override;

private:
    bool check();
    std::vector<QLineEdit*> bounds() const;

    std::unique_ptr<Ui::CEditDynamicFilterDlg> m_form;
    Messages& m_messages;
    ActionControls* m_action;
    // The packet filters' IDs, in the order of both lists.
    std::vector<int32_t> m_filterIds;
};

} // namespace tavrin::ui
