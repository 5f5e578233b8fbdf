#include "CTabMainFilter.h"

#include <QAction>

namespace tavrin::ui {

CTabMainFilter::CTabMainFilter(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page106"));
    auto make = [this](const char* text) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        m_menuActions.append(action);
        return action;
    };
    m_newAction = make("新規作成(&N)...");
    m_editAction = make("編集(&E)...");
    m_deleteAction = make("削除(&D)");
    m_upAction = make("上へ(&U)");
    m_downAction = make("下へ(&W)");
    m_duplicateAction = make("複製(&C)");
    m_toggleAction = make("有効/無効(&A)");
    updateCommands();
}

void CTabMainFilter::filteringChanged(bool) {
    updateCommands();
}

void CTabMainFilter::refreshBandwidth(const std::vector<int32_t>&) {}

void CTabMainFilter::refreshRows() {}

void CTabMainFilter::updateCommands() {
    // Until the list is here no row can be selected.
    const bool selected = false;
    for (QAction* action : {m_editAction, m_deleteAction, m_upAction, m_downAction,
                            m_duplicateAction, m_toggleAction})
        action->setEnabled(selected);
    m_newAction->setEnabled(true);
}

} // namespace tavrin::ui
