// Finding the service's listening dialog from the test's own thread.
#pragma once

#include "service/device_change_listener.h"

#include <windows.h>

namespace winetest {

// The listening dialog: a window of the listener's thread whose dialog
// procedure is the service's. Waits for it up to `limitMs`; nullptr when it
// did not come up.
inline HWND waitForListener(DWORD threadId, DWORD limitMs) {
    struct Search {
        static BOOL CALLBACK visit(HWND window, LPARAM found) {
            if (GetWindowLongPtrA(window, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(SdioDialogProc))
                return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
    };
    constexpr DWORD kStepMs = 10;
    for (DWORD waited = 0;; waited += kStepMs) {
        HWND found = nullptr;
        EnumThreadWindows(threadId, Search::visit, reinterpret_cast<LPARAM>(&found));
        if (found || waited >= limitMs)
            return found;
        Sleep(kStepMs);
    }
}

// The desktop made before the service's listener asks for it, as the tray's
// own main window makes it before the service starts. Two threads that first
// ask for the desktop at once can each start a desktop process on Wine 8.0,
// and the loser's windows then fail to be made.
inline bool makeDesktop() {
    return GetDesktopWindow() != nullptr;
}

// Said with a failure to find a window: Wine draws windows on X, and without
// a display it makes none.
inline const char* displayHint() {
    return GetEnvironmentVariableA("DISPLAY", nullptr, 0)
               ? ""
               : " (no DISPLAY: run it through CTest, whose fixture starts one)";
}

} // namespace winetest
