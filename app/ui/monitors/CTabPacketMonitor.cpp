#include "CTabPacketMonitor.h"

namespace tavrin::ui {

CTabPacketMonitor::CTabPacketMonitor(PageContext context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("page172"));
}

void CTabPacketMonitor::rulesReloaded() {}

void CTabPacketMonitor::addPacket(const ovlank::CaptureEntry&, bool) {}

void CTabPacketMonitor::redrawList() {}

} // namespace tavrin::ui
