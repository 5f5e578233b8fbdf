// What the main dialog hands to each of its tab pages: the core with both settings
// objects and the session, the network information, the external command store,
// the messages interface, and a way back to the dialog itself.
#pragma once

#include <string>

class QWidget;

namespace tavrin {
class AdapterList;
class Messages;
class NetworkInfo;
namespace commands {
class ExternalCommandIni;
}
namespace core {
class ApplicationCore;
}
} // namespace tavrin

namespace tavrin::ui {

// The pages by their old dialog template numbers, which other parts use to name them.
inline constexpr int kPageFilter = 106;
inline constexpr int kPageDynamicFilter = 178;
inline constexpr int kPageTcpConnection = 132;
inline constexpr int kPagePacketMonitor = 172;
inline constexpr int kPageExternalCommand = 173;

// What a page may ask of the main dialog.
class MainDialogLink {
public:
    virtual ~MainDialogLink() = default;
    // Selects the page's tab (the page is refreshed by the tab's own showing).
    virtual void showPage(int pageId) = 0;
    virtual QWidget* page(int pageId) const = 0;
    // The hidden flag: the window is minimised or hidden in the tray.
    virtual bool windowHidden() const = 0;
    // Switches to the external command page and runs `commandLine` there.
    virtual void runExternalCommand(const std::string& commandLine) = 0;
};

struct PageContext {
    core::ApplicationCore& core;
    NetworkInfo& network;
    AdapterList& adapters;
    commands::ExternalCommandIni& commands;
    Messages& messages;
    MainDialogLink& dialog;
};

} // namespace tavrin::ui
