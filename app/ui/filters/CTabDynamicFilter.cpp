#include "CTabDynamicFilter.h"

namespace tavrin::ui {

CTabDynamicFilter::CTabDynamicFilter(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page178"));
}

void CTabDynamicFilter::refreshRows() {}

} // namespace tavrin::ui
