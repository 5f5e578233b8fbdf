// The application start: the command line, one instance per machine (a second
// start brings the first one's window back), the bring-up and settings through the
// core, the main window, and the ways out (the exit path, signals, the desktop
// session ending).
#pragma once

#include <functional>

namespace tavrin::ui {

class CTestDrvDlg;

class CTestDrvApp final {
public:
    // Exit statuses: 0 after the exit path, 1 when the start failed or a fatal
    // failure ended the program, 2 for a bad command line.
    // `started` is called once the window runs (the screenshot tour drives it).
    static int run(int argc, char** argv, const std::function<void(CTestDrvDlg&)>& started = {});
};

} // namespace tavrin::ui
