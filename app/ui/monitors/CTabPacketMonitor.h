// The packet monitor page: the captured packets, one list per filter.
#pragma once

#include "OvlankProtocol.h"
#include "PageContext.h"

#include <QWidget>

namespace tavrin::ui {

class CTabPacketMonitor final : public QWidget {
    Q_OBJECT
public:
    CTabPacketMonitor(PageContext context, QWidget* parent = nullptr);

    // The daemon's rules were loaded afresh: the lists start over.
    void rulesReloaded();
    // One captured packet; with `noRedraw` it is only filed.
    void addPacket(const ovlank::CaptureEntry& entry, bool noRedraw);
    // The shown list drawn again.
    void redrawList();

private:
    PageContext m_context;
};

} // namespace tavrin::ui
