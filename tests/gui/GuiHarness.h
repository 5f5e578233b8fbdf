// The main window on the core's test harness: the real engine behind the device,
// real settings files in a private folder, the machine's real connection table.
// Message boxes go to the harness's recorder, which answers as scripted.
#pragma once

#include "CTestDrvDlg.h"
#include "CoreHarness.h"

#include <QApplication>
#include <QTest>

#include <memory>
#include <string>

namespace tavrin::ui::test {

class GuiHarness final {
public:
    // `trayAvailable`: whether the window finds a system tray.
    explicit GuiHarness(bool trayAvailable = false) : m_trayAvailable(trayAvailable) {}
    ~GuiHarness() {
        core.m_forward.setTarget(&core.m_view);
        m_dialog.reset();
    }
    GuiHarness(const GuiHarness&) = delete;
    GuiHarness& operator=(const GuiHarness&) = delete;

    // The core set up with `settings` as Setting.ini (none when empty), then the
    // window made; `beforeInitialise` may look at it before it initialises.
    bool start(const std::string& settings,
               const std::function<void(CTestDrvDlg&)>& beforeInitialise = {}) {
        if (!core.setUp(settings))
            return false;
        core.m_engine.clear();
        m_dialog = std::make_unique<CTestDrvDlg>(
            DialogParts{core.m_core, core.m_network, core.m_adapters, core.m_commands,
                        core.m_messages, [this] { return m_trayAvailable; }});
        core.m_forward.setTarget(m_dialog.get());
        if (beforeInitialise)
            beforeInitialise(*m_dialog);
        m_dialog->initialise();
        QCoreApplication::processEvents();
        return true;
    }

    CTestDrvDlg& dialog() { return *m_dialog; }
    void setTrayAvailable(bool available) { m_trayAvailable = available; }

    core::test::CoreHarness core;

private:
    bool m_trayAvailable;
    std::unique_ptr<CTestDrvDlg> m_dialog;
};

} // namespace tavrin::ui::test
