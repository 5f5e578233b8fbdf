// The TCP connection monitor page.
#pragma once

#include "PageContext.h"

#include <QWidget>

namespace tavrin::ui {

class CTabTcpConnection final : public QWidget {
    Q_OBJECT
public:
    CTabTcpConnection(PageContext context, QWidget* parent = nullptr);

    // After each connection refresh (force off), or for the page's own needs.
    void redraw(bool force);

private:
    PageContext m_context;
};

} // namespace tavrin::ui
