// The simulated user32 functions of window looks, properties, menus, icons,
// strings and message boxes, and the shell's notification-area call.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

#include <string>

using sim::Machine;
using sim::describe;

namespace {
const void* p(const void* v) { return v; }

// A resource name for the call log: "#130" for a numbered one.
std::string resource(LPCSTR name) {
    if (IS_INTRESOURCE(name))
        return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
    return std::string("\"") + name + "\"";
}
} // namespace

BOOL WINAPI ShowWindow(HWND h, int command) {
    Machine& m = Machine::current();
    if (auto e = m.enter("ShowWindow", describe(p(h), command))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().showWindow(h, command);
}

LONG WINAPI GetWindowLongA(HWND h, int index) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetWindowLongA", describe(p(h), index))) {
        SetLastError(*e);
        return 0;
    }
    return m.windows().getWindowLong(h, index);
}

LONG WINAPI SetWindowLongA(HWND h, int index, LONG value) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetWindowLongA", describe(p(h), index, static_cast<DWORD>(value)))) {
        SetLastError(*e);
        return 0;
    }
    return m.windows().setWindowLong(h, index, value);
}

BOOL WINAPI SetForegroundWindow(HWND h) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetForegroundWindow", describe(p(h)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().setForeground(h);
}

BOOL WINAPI SetPropA(HWND h, LPCSTR name, HANDLE data) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetPropA", describe(p(h), resource(name), data))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().setProp(h, name, data);
}

// Not logged: a dialog framework reads its property for every message.
HANDLE WINAPI GetPropA(HWND h, LPCSTR name) { return Machine::current().windows().getProp(h, name); }

HANDLE WINAPI RemovePropA(HWND h, LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RemovePropA", describe(p(h), resource(name)))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.windows().removeProp(h, name);
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegisterWindowMessageA", describe(name))) {
        SetLastError(*e);
        return 0;
    }
    return m.windows().registerMessage(name);
}

BOOL WINAPI ChangeWindowMessageFilter(UINT message, DWORD flag) {
    Machine& m = Machine::current();
    if (auto e = m.enter("ChangeWindowMessageFilter", describe(message, flag))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().changeProcessFilter(message, flag);
}

BOOL WINAPI ChangeWindowMessageFilterEx(HWND h, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
    Machine& m = Machine::current();
    if (auto e = m.enter("ChangeWindowMessageFilterEx", describe(p(h), message, action, p(status)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().changeWindowFilter(h, message, action, status);
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetCursorPos", describe(p(point)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().getCursorPos(point);
}

HMENU WINAPI GetSystemMenu(HWND h, BOOL revert) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetSystemMenu", describe(p(h), revert))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.windows().getSystemMenu(h, revert);
}

BOOL WINAPI AppendMenuA(HMENU h, UINT flags, UINT_PTR id, LPCSTR text) {
    Machine& m = Machine::current();
    bool hasText = !(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW | MF_POPUP)) && text;
    if (auto e = m.enter("AppendMenuA", describe(p(h), flags, id, hasText ? text : nullptr))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().appendMenu(h, flags, id, text);
}

HMENU WINAPI LoadMenuA(HINSTANCE instance, LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("LoadMenuA", describe(p(instance), resource(name)))) {
        SetLastError(*e);
        return nullptr;
    }
    DWORD error = 0;
    auto items = m.resources().findMenu(instance, name, &error);
    if (!items) {
        SetLastError(error);
        return nullptr;
    }
    return m.windows().loadMenu(*items);
}

HMENU WINAPI GetSubMenu(HMENU h, int position) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetSubMenu", describe(p(h), position))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.windows().getSubMenu(h, position);
}

BOOL WINAPI TrackPopupMenu(HMENU h, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect) {
    Machine& m = Machine::current();
    if (auto e = m.enter("TrackPopupMenu", describe(p(h), flags, x, y, reserved, p(owner), p(rect)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().trackPopupMenu(h, flags, x, y, owner);
}

BOOL WINAPI DestroyMenu(HMENU h) {
    Machine& m = Machine::current();
    if (auto e = m.enter("DestroyMenu", describe(p(h)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().destroyMenu(h);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("LoadIconA", describe(p(instance), resource(name)))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.resources().loadIcon(instance, name);
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    Machine& m = Machine::current();
    if (auto e = m.enter("LoadStringA", describe(p(instance), id, p(buffer), size))) {
        SetLastError(*e);
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return m.resources().loadString(instance, id, buffer, size);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Machine& m = Machine::current();
    if (auto e = m.enter("MessageBoxA", describe(p(owner), text, caption, type))) {
        SetLastError(*e);
        return 0;
    }
    return m.windows().messageBox(owner, text, caption, type);
}

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    Machine& m = Machine::current();
    std::string arguments = data ? describe(message, data->cbSize, p(data->hWnd), data->uID, data->uFlags,
                                            data->uCallbackMessage, p(data->hIcon))
                                 : describe(message, "NULL");
    if (auto e = m.enter("Shell_NotifyIconA", arguments)) {
        SetLastError(*e);
        return FALSE;
    }
    return m.notificationArea().notify(message, data);
}
