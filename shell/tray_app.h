// The application object and the program's entry on every platform: the
// Windows WinMain and the simulated machine's tests both call CardwellMain.
#pragma once

#include "platform/win32.h"

class TrayApp {
public:
    explicit TrayApp(HINSTANCE instance) : instance_(instance) {}

    // The start-up: refuses a second copy, or runs the main window modally
    // until it closes. No message loop follows either way: false.
    bool InitInstance();

private:
    HINSTANCE instance_;
};

// Runs one copy of the program to its end; answers the process's exit code.
int CardwellMain(HINSTANCE instance);
