// The dynamic filter page: the dynamic filters in their comparison order.
#pragma once

#include "PageContext.h"

#include <QWidget>

namespace tavrin::ui {

class CTabDynamicFilter final : public QWidget {
    Q_OBJECT
public:
    CTabDynamicFilter(PageContext context, QWidget* parent = nullptr);

    // Every row rewritten from the settings being edited.
    void refreshRows();

private:
    PageContext m_context;
};

} // namespace tavrin::ui
