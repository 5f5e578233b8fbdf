// The external command page: the command list, and the run of one command with
// its output.
#pragma once

#include "PageContext.h"

#include <QWidget>

#include <string>

namespace tavrin::ui {

class CTabExternalCommand final : public QWidget {
    Q_OBJECT
public:
    CTabExternalCommand(PageContext context, QWidget* parent = nullptr);

    // Runs `commandLine`, asking its open placeholders first.
    void run(const std::string& commandLine);
    // The program is ending: a running command is stopped before this returns.
    void closeAtExit();

private:
    PageContext m_context;
};

} // namespace tavrin::ui
