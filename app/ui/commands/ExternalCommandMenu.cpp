#include "ExternalCommandMenu.h"

#include "ExternalCommandIni.h"
#include "TextConversion.h"

#include <QAction>
#include <QMenu>

namespace tavrin::ui {

QMenu* addExternalCommandMenu(QMenu* menu, const commands::ExternalCommandIni& store, int target,
                              const std::function<void(int n)>& chosen) {
    std::vector<const commands::ExternalCommand*> listed;
    for (int n = 0; const commands::ExternalCommand* c = store.menuCommand(target, n); ++n)
        listed.push_back(c);
    const bool packetMonitor = target == commands::kTargetPacketMonitor;
    if (listed.empty() && !packetMonitor)
        return nullptr;
    if (!packetMonitor)
        menu->addSeparator();
    QMenu* sub = menu->addMenu(QStringLiteral("外部コマンド(&E)"));
    sub->setEnabled(!listed.empty());
    for (size_t n = 0; n < listed.size(); ++n) {
        QAction* action = sub->addAction(qs(listed[n]->name));
        action->setData(kFirstExternalCommandId + static_cast<int>(n));
        QObject::connect(action, &QAction::triggered, sub,
                         [chosen, n = static_cast<int>(n)] { chosen(n); });
    }
    return sub;
}

} // namespace tavrin::ui
