// What the filter page and the dynamic filter page share: the list with its buttons
// above it, the commands as actions (for buttons, the right-click menu and, on the
// filter page, the main menu), the commands that only rearrange the list, and the
// column widths and order kept in the settings being edited.
#pragma once

#include "CommonSettings.h"
#include "FilterListEditor.h"
#include "FilterRowsModel.h"
#include "PageContext.h"

#include <QList>
#include <QWidget>

#include <set>
#include <span>
#include <vector>

class QAction;
class QPushButton;
class QTableView;
class QTimer;

namespace tavrin::ui {

class ColumnLayout;

class FilterListPage : public QWidget {
    Q_OBJECT
public:
    // Every row rewritten from the settings being edited.
    virtual void refreshRows() = 0;

    QTableView* view() const { return m_view; }
    FilterRowsModel* model() const { return m_model; }
    // The selected rows, ascending.
    std::vector<int> selectedRows() const;
    // Selects exactly these rows and makes `rows.back()` (if any) the current one.
    void selectRows(const std::vector<int>& rows);

    QAction* newAction() const { return m_newAction; }
    QAction* editAction() const { return m_editAction; }
    QAction* deleteAction() const { return m_deleteAction; }
    QAction* upAction() const { return m_upAction; }
    QAction* downAction() const { return m_downAction; }
    QAction* duplicateAction() const { return m_duplicateAction; }
    QAction* toggleAction() const { return m_toggleAction; }
    // The right-click menu's commands, in its order.
    QList<QAction*> contextActions() const;

protected:
    FilterListPage(PageContext context, FilterListKind kind, settings::ColumnList columns,
                   std::span<const ColumnHeading> headings, const QString& accessibleName,
                   QWidget* parent);

    virtual void newItem() = 0;
    virtual void editItem(int row) = 0;
    // The list changed (the session was restarted): what else must follow.
    virtual void afterChange() {}
    // The message when the list is full.
    virtual const char* fullMessage() const = 0;

    // After a command changed the list: the session restarts with the edited
    // settings, the saved flag is cleared, the rows are rewritten and `select` is
    // selected.
    void listChanged(const std::vector<int>& select);
    void updateCommands();

    PageContext m_context;
    FilterListEditor m_editor;

private:
    void showContextMenu(const QPoint& position);

    settings::ColumnList m_columns;
    QTableView* m_view;
    FilterRowsModel* m_model;
    ColumnLayout* m_columnLayout;
    QAction* m_newAction;
    QAction* m_editAction;
    QAction* m_deleteAction;
    QAction* m_upAction;
    QAction* m_downAction;
    QAction* m_duplicateAction;
    QAction* m_toggleAction;
};

} // namespace tavrin::ui
