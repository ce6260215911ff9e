#include "platform/sim/notification_area.h"

#include "platform/win32.h"

#include <cstring>

namespace sim {

namespace {
// The taskbar is Explorer's, which runs at the signed-in user's level.
constexpr Integrity kExplorer = Integrity::Medium;
} // namespace

NotificationArea::NotificationArea(Kernel& kernel, Windows& windows) : kernel_(kernel), windows_(windows) {}

std::vector<TrayIcon>::iterator NotificationArea::findLocked(HWND window, UINT id) {
    for (auto it = icons_.begin(); it != icons_.end(); ++it)
        if (it->window == window && it->id == id)
            return it;
    return icons_.end();
}

std::vector<TrayIcon> NotificationArea::icons() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return icons_;
}

std::optional<TrayIcon> NotificationArea::icon(HWND window, UINT id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    for (const TrayIcon& i : icons_)
        if (i.window == window && i.id == id)
            return i;
    return std::nullopt;
}

void NotificationArea::setRefusing(bool refusing) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    refusing_ = refusing;
}

void NotificationArea::recreate() {
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        icons_.clear();
        refusing_ = false;
    }
    // Explorer's own broadcast, at its level: an elevated window hears it
    // only when its filter lets it in.
    windows_.postFrom(kExplorer, HWND_BROADCAST, windows_.registeredMessage("TaskbarCreated"), 0, 0);
}

bool NotificationArea::mouse(HWND window, UINT id, UINT mouseMessage) {
    UINT callback = 0;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        auto it = findLocked(window, id);
        if (it == icons_.end() || !(it->flags & NIF_MESSAGE))
            return false;
        callback = it->callbackMessage;
    }
    if (windows_.isWindow(window))
        return windows_.postFrom(kExplorer, window, callback, id, static_cast<LPARAM>(mouseMessage)) != FALSE;
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = findLocked(window, id);
    if (it != icons_.end())
        icons_.erase(it);
    return false;
}

BOOL NotificationArea::notify(DWORD message, const NOTIFYICONDATAA* data) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    // The smallest record the shell reads is the first layout's.
    if (!data || data->cbSize < NOTIFYICONDATAA_V1_SIZE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (refusing_) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    auto it = findLocked(data->hWnd, data->uID);
    auto update = [&](TrayIcon& icon) {
        icon.flags |= data->uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
        if (data->uFlags & NIF_MESSAGE)
            icon.callbackMessage = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON)
            icon.icon = data->hIcon;
        if (data->uFlags & NIF_TIP) {
            // The first layout holds a 64-character tip, the later ones 128.
            std::size_t room = data->cbSize > NOTIFYICONDATAA_V1_SIZE ? sizeof data->szTip : 64;
            icon.tip.assign(data->szTip, strnlen(data->szTip, room));
        }
    };
    switch (message) {
    case NIM_ADD: {
        if (it != icons_.end())
            return FALSE; // one icon per window and identifier
        TrayIcon icon;
        icon.window = data->hWnd;
        icon.id = data->uID;
        icon.recordSize = data->cbSize;
        icon.added = kernel_.nowLocked();
        update(icon);
        icons_.push_back(icon);
        return TRUE;
    }
    case NIM_MODIFY:
        if (it == icons_.end())
            return FALSE;
        update(*it);
        return TRUE;
    case NIM_DELETE:
        if (it == icons_.end())
            return FALSE;
        icons_.erase(it);
        return TRUE;
    case NIM_SETFOCUS:
    case NIM_SETVERSION:
        return it != icons_.end();
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

} // namespace sim
