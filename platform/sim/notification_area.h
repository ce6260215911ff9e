// The taskbar's notification area: the icons programs add with
// Shell_NotifyIconA, the user's mouse on them, and the taskbar's own moods
// (not answering, re-created after Explorer restarts).
#pragma once

#include "platform/sim/kernel.h"
#include "platform/sim/windows.h"

#include <optional>
#include <string>
#include <vector>

namespace sim {

// One icon as the taskbar keeps it: the fields the program's records gave.
struct TrayIcon {
    HWND window = nullptr;
    UINT id = 0;
    UINT flags = 0;       // every NIF_ flag given so far
    UINT callbackMessage = 0;
    HICON icon = nullptr;
    std::string tip;
    DWORD recordSize = 0; // cbSize of the record that added it
    VirtualTime added = 0;
};

class NotificationArea {
public:
    NotificationArea(Kernel& kernel, Windows& windows);

    std::vector<TrayIcon> icons() const;
    std::optional<TrayIcon> icon(HWND window, UINT id) const;

    // A taskbar that does not answer (Explorer busy or not running): every
    // call fails with ERROR_TIMEOUT.
    void setRefusing(bool refusing);
    // Explorer started again: every icon is gone, and every top-level window
    // is told with the registered "TaskbarCreated" message.
    void recreate();
    // The user's mouse on an icon (WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, ...):
    // the icon's callback message goes to its window, with the icon's
    // identifier in wParam and the mouse message in lParam. False when there
    // is no such icon or it asked for no callback; an icon whose window has
    // gone vanishes at the touch, as on the real taskbar.
    bool mouse(HWND window, UINT id, UINT mouseMessage);

    // Win32 entry point
    BOOL notify(DWORD message, const NOTIFYICONDATAA* data);

private:
    std::vector<TrayIcon>::iterator findLocked(HWND window, UINT id);

    Kernel& kernel_;
    Windows& windows_;
    bool refusing_ = false;
    std::vector<TrayIcon> icons_;
};

} // namespace sim
