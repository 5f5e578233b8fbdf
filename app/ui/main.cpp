// Tavrin: the desktop program.
#include "CTestDrvApp.h"

int main(int argc, char** argv) {
    return tavrin::ui::CTestDrvApp::run(argc, argv);
}
