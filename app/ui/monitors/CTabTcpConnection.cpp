#include "CTabTcpConnection.h"

namespace tavrin::ui {

CTabTcpConnection::CTabTcpConnection(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page132"));
}

void CTabTcpConnection::redraw(bool) {}

} // namespace tavrin::ui
