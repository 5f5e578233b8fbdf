// The filter list page: the ordered static filters and the commands on them, which
// the main menu "フィルタ(&I)" offers as well.
#pragma once

#include "PageContext.h"

#include <QList>
#include <QWidget>

#include <cstdint>
#include <vector>

class QAction;

namespace tavrin::ui {

class CTabMainFilter final : public QWidget {
    Q_OBJECT
public:
    CTabMainFilter(PageContext context, QWidget* parent = nullptr);

    // New, edit, delete, up, down, duplicate, enable/disable, in menu order.
    QList<QAction*> menuActions() const { return m_menuActions; }

    // Filtering was switched on or off.
    void filteringChanged(bool filtering);
    // The bandwidth column, with the rules dynamic filters override now.
    void refreshBandwidth(const std::vector<int32_t>& overriddenRules);
    // Every row rewritten from the settings being edited.
    void refreshRows();

private:
    void updateCommands();

    PageContext m_context;
    QAction* m_newAction;
    QAction* m_editAction;
    QAction* m_deleteAction;
    QAction* m_upAction;
    QAction* m_downAction;
    QAction* m_duplicateAction;
    QAction* m_toggleAction;
    QList<QAction*> m_menuActions;
};

} // namespace tavrin::ui
