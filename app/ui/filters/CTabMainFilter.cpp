#include "CTabMainFilter.h"

#include "ApplicationCore.h"
#include "CAddFilterDlg.h"
#include "CTabDynamicFilter.h"
#include "Messages.h"
#include "TextConversion.h"

#include <QAction>
#include <QTableView>

#include <algorithm>

namespace tavrin::ui {

CTabMainFilter::CTabMainFilter(PageContext context, QWidget* parent)
    : FilterListPage(context, FilterListKind::Packet, settings::ColumnList::Filter, kFilterColumns,
                     QStringLiteral("フィルタ一覧"), parent) {
    setObjectName(QStringLiteral("page106"));
}

QList<QAction*> CTabMainFilter::menuActions() const {
    return {newAction(),  editAction(),      deleteAction(), upAction(),
            downAction(), duplicateAction(), toggleAction()};
}

void CTabMainFilter::filteringChanged(bool) {
    updateCommands();
}

void CTabMainFilter::refreshBandwidth(const std::vector<int32_t>& overriddenRules) {
    m_overriddenRules = overriddenRules;
    refreshRows();
}

void CTabMainFilter::refreshRows() {
    core::ApplicationCore& core = m_context.core;
    const settings::IniFileObject& edited = core.edited();
    const core::DynamicFilterPass::OverrideMap& overrides =
        core.session().dynamicPass().overrides();
    std::vector<FilterRowsModel::Row> rows;
    rows.reserve(static_cast<size_t>(edited.PacketFilterCount()));
    int32_t rule = 0;
    for (int position = 0; position < edited.PacketFilterCount(); ++position) {
        const PacketFilter& filter = *edited.PacketFilterAt(position);
        const PacketFilter* shown = &filter;
        if (filter.available == 1) {
            const bool listed = std::find(m_overriddenRules.begin(), m_overriddenRules.end(),
                                          rule) != m_overriddenRules.end();
            const auto it = overrides.find(static_cast<uint32_t>(rule));
            if (listed && it != overrides.end() && it->second)
                shown = it->second.get();
            ++rule;
        }
        FilterRowsModel::Row row;
        for (const std::string& text : filterRowTexts(*shown, position, edited, core.inForce()))
            row.texts << qs(text);
        row.enabled = filter.available == 1;
        row.overridden = shown != &filter;
        rows.push_back(std::move(row));
    }
    model()->setRows(std::move(rows));
    updateCommands();
}

void CTabMainFilter::rulesReloaded() {
    m_overriddenRules.clear();
    refreshRows();
}

void CTabMainFilter::afterChange() {
    m_overriddenRules.clear();
    if (auto* dynamicPage =
            qobject_cast<CTabDynamicFilter*>(m_context.dialog.page(kPageDynamicFilter)))
        dynamicPage->refreshRows();
}

void CTabMainFilter::newItem() {
    settings::IniFileObject& edited = m_context.core.edited();
    if (edited.PacketFilterCount() >= kMaxFilters) {
        m_context.messages.show(kFilterListFullMessage);
        return;
    }
    // Without socket owners, process-bound filters depend on the port map.
    if (!m_context.network.ownerSourceInUse() &&
        edited.GetMessageFlag(settings::kMessageFlagProcessBoundOnOldSystem) == 0 &&
        m_context.messages.askYesNo(kProcessMappingWarning, {}, MessageIcon::Information) ==
            Answer::Yes)
        edited.SetMessageFlag(settings::kMessageFlagProcessBoundOnOldSystem);

    CAddFilterDlg dialog(m_context.adapters, m_context.messages, this);
    PacketFilter filter;
    dialog.load(filter, true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.store(filter);
    appendFilter(filter);
}

void CTabMainFilter::appendFilter(const PacketFilter& filter) {
    m_context.core.edited().AddPacketFilter(filter);
    listChanged({m_context.core.edited().PacketFilterCount() - 1});
    view()->setFocus(Qt::OtherFocusReason);
}

void CTabMainFilter::editItem(int row) {
    PacketFilter* original = m_context.core.edited().PacketFilterAt(row);
    if (original == nullptr)
        return;
    CAddFilterDlg dialog(m_context.adapters, m_context.messages, this);
    dialog.load(*original, false);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The dialog may have run long: the filter is looked up again by its place.
    PacketFilter* filter = m_context.core.edited().PacketFilterAt(row);
    if (filter == nullptr)
        return;
    dialog.store(*filter);
    listChanged({row});
}

} // namespace tavrin::ui
