#include "CTabDynamicFilter.h"

#include "ApplicationCore.h"
#include "CEditDynamicFilterDlg.h"
#include "CTabMainFilter.h"
#include "Messages.h"
#include "TextConversion.h"

#include <QTableView>

namespace tavrin::ui {

CTabDynamicFilter::CTabDynamicFilter(PageContext context, QWidget* parent)
    : FilterListPage(context, FilterListKind::Dynamic, settings::ColumnList::DynamicFilter,
                     kDynamicFilterColumns, QStringLiteral("動的フィルタ一覧"), parent) {
    setObjectName(QStringLiteral("page178"));
}

void CTabDynamicFilter::refreshRows() {
    const settings::IniFileObject& edited = m_context.core.edited();
    std::vector<FilterRowsModel::Row> rows;
    rows.reserve(static_cast<size_t>(edited.DynamicFilterCount()));
    for (int position = 0; position < edited.DynamicFilterCount(); ++position) {
        const DynamicFilter& filter = *edited.DynamicFilterAt(position);
        FilterRowsModel::Row row;
        for (const std::string& text : dynamicFilterRowTexts(filter, position, edited))
            row.texts << qs(text);
        row.enabled = filter.available == 1;
        rows.push_back(std::move(row));
    }
    model()->setRows(std::move(rows));
    updateCommands();
}

void CTabDynamicFilter::afterChange() {
    // The filter page names the dynamic filter acting on a row.
    if (auto* filterPage = qobject_cast<CTabMainFilter*>(m_context.dialog.page(kPageFilter)))
        filterPage->rulesReloaded();
}

void CTabDynamicFilter::newItem() {
    settings::IniFileObject& edited = m_context.core.edited();
    if (edited.DynamicFilterCount() >= kMaxFilters) {
        m_context.messages.show(kDynamicFilterListFullMessage);
        return;
    }
    CEditDynamicFilterDlg dialog(edited, m_context.messages, this);
    DynamicFilter filter;
    dialog.load(filter);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.store(filter);
    edited.AddDynamicFilter(filter);
    listChanged({edited.DynamicFilterCount() - 1});
    view()->setFocus(Qt::OtherFocusReason);
}

void CTabDynamicFilter::editItem(int row) {
    settings::IniFileObject& edited = m_context.core.edited();
    const DynamicFilter* original = edited.DynamicFilterAt(row);
    if (original == nullptr)
        return;
    CEditDynamicFilterDlg dialog(edited, m_context.messages, this);
    dialog.load(*original);
    if (dialog.exec() != QDialog::Accepted)
        return;
    DynamicFilter* filter = edited.DynamicFilterAt(row);
    if (filter == nullptr)
        return;
    dialog.store(*filter);
    listChanged({row});
}

} // namespace tavrin::ui
