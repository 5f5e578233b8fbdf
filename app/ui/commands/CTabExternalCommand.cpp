#include "CTabExternalCommand.h"

namespace tavrin::ui {

CTabExternalCommand::CTabExternalCommand(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page173"));
}

void CTabExternalCommand::run(const std::string&) {}

void CTabExternalCommand::closeAtExit() {}

} // namespace tavrin::ui
