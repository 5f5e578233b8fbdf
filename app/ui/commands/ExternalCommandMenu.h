// The "外部コマンド(&E)" submenu of the two monitors' right-click menus: the commands
// of the store listed for that monitor, in store order, with ids from 175 up.
#pragma once

#include <functional>

class QMenu;

namespace tavrin::commands {
class ExternalCommandIni;
}

namespace tavrin::ui {

inline constexpr int kFirstExternalCommandId = 175;

// Adds the submenu to `menu` for monitor `target` (commands::kTargetTcpConnectionMonitor
// or kTargetPacketMonitor). The connection monitor gets a separator and the submenu
// only when it lists a command; the packet monitor always gets the submenu, grayed
// when it lists none. `chosen(n)` runs with the n-th listed command (from 0), the
// index menuCommand(target, n) takes. Returns the submenu, or nullptr when none was
// added.
QMenu* addExternalCommandMenu(QMenu* menu, const commands::ExternalCommandIni& store, int target,
                              const std::function<void(int n)>& chosen);

} // namespace tavrin::ui
