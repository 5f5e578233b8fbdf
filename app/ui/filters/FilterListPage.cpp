#include "FilterListPage.h"

#include "ActionButton.h"
#include "ApplicationCore.h"
#include "ColumnLayout.h"
#include "Messages.h"
#include "TextConversion.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <numeric>

namespace tavrin::ui {

namespace {} // namespace

FilterListPage::FilterListPage(PageContext context, FilterListKind kind,
                               settings::ColumnList columns,
                               std::span<const ColumnHeading> headings,
                               const QString& accessibleName, QWidget* parent)
    : QWidget(parent), m_context(context), m_editor(context.core.edited(), kind, context.messages),
      m_columns(columns), m_view(new QTableView(this)),
      m_model(new FilterRowsModel(headings, this)) {
    auto make = [this](const char* text, std::function<void()> run) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        connect(action, &QAction::triggered, this, std::move(run));
        return action;
    };
    m_newAction = make("新規作成(&N)...", [this] { newItem(); });
    m_editAction = make("編集(&E)...", [this] {
        const std::vector<int> rows = selectedRows();
        if (!rows.empty())
            editItem(rows.front());
    });
    m_deleteAction = make("削除(&D)", [this] {
        if (m_editor.remove(selectedRows()))
            listChanged({});
    });
    m_upAction = make("上へ(&U)", [this] {
        if (auto rows = m_editor.moveUp(selectedRows()))
            listChanged(*rows);
    });
    m_downAction = make("下へ(&W)", [this] {
        if (auto rows = m_editor.moveDown(selectedRows()))
            listChanged(*rows);
    });
    m_duplicateAction = make("複製(&C)", [this] {
        const std::vector<int> selected = selectedRows();
        if (selected.empty())
            return;
        if (auto rows = m_editor.duplicate(selected))
            listChanged(*rows);
        else
            m_context.messages.show(fullMessage());
    });
    m_toggleAction = make("有効/無効(&A)", [this] {
        if (auto rows = m_editor.toggle(selectedRows()))
            listChanged(*rows);
    });

    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setShowGrid(true);
    m_view->setSortingEnabled(false);
    m_view->setWordWrap(false);
    m_view->setTextElideMode(Qt::ElideRight);
    m_view->setIconSize(QSize(16, 16));
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setAccessibleName(accessibleName);
    QHeaderView* header = m_view->horizontalHeader();
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);

    connect(m_view, &QTableView::doubleClicked, this, [this] { m_editAction->trigger(); });
    connect(m_view, &QTableView::customContextMenuRequested, this,
            &FilterListPage::showContextMenu);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FilterListPage::updateCommands);

    std::vector<QString> widest;
    for (const ColumnHeading& heading : headings)
        widest.push_back(qs(heading.widest));
    m_columnLayout =
        new ColumnLayout(header, context.core.edited(), columns, std::move(widest), this);
    m_columnLayout->applyFromSettings();

    auto* buttons = new QHBoxLayout;
    const std::pair<const char*, QAction*> bound[] = {
        {"新規作成...", m_newAction},  {"編集...", m_editAction}, {"削除", m_deleteAction},
        {"上へ", m_upAction},          {"下へ", m_downAction},    {"複製", m_duplicateAction},
        {"有効/無効", m_toggleAction},
    };
    for (const auto& [caption, action] : bound) {
        auto* button = new QPushButton(QString::fromUtf8(caption), this);
        // A page has no default button: Enter does nothing here.
        button->setAutoDefault(false);
        button->setDefault(false);
        bindButton(button, action);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_view, 1);
    updateCommands();
}

QList<QAction*> FilterListPage::contextActions() const {
    return {m_editAction, m_deleteAction,    m_upAction,
            m_downAction, m_duplicateAction, m_toggleAction};
}

std::vector<int> FilterListPage::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_view->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FilterListPage::selectRows(const std::vector<int>& rows) {
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < m_model->rowCount())
            selection.select(m_model->index(row, 0),
                             m_model->index(row, m_model->columnCount() - 1));
    QItemSelectionModel* model = m_view->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.empty() && rows.back() >= 0 && rows.back() < m_model->rowCount()) {
        const QModelIndex current = m_model->index(rows.back(), 0);
        model->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
        m_view->scrollTo(current);
    }
    updateCommands();
}

void FilterListPage::listChanged(const std::vector<int>& select) {
    m_context.core.filtersChanged();
    afterChange();
    refreshRows();
    selectRows(select);
}

void FilterListPage::updateCommands() {
    const bool selected = m_view->selectionModel()->hasSelection();
    for (QAction* action : contextActions())
        action->setEnabled(selected);
    m_newAction->setEnabled(true);
}

void FilterListPage::showContextMenu(const QPoint& position) {
    updateCommands();
    QMenu menu(this);
    menu.addActions(contextActions());
    menu.exec(m_view->viewport()->mapToGlobal(position));
    updateCommands();
}

} // namespace tavrin::ui
