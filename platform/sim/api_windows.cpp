// The simulated user32 functions.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

using sim::Machine;
using sim::describe;

namespace {
const void* p(const void* v) { return v; }
} // namespace

HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    Machine& m = Machine::current();
    if (auto e = m.enter("CreateDialogParamA", describe(p(instance), p(name), p(owner), param))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.windows().createDialog(instance, name, owner, proc, param);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    Machine& m = Machine::current();
    if (auto e = m.enter("DialogBoxParamA", describe(p(instance), p(name), p(owner), param))) {
        SetLastError(*e);
        return -1;
    }
    return m.windows().dialogBox(instance, name, owner, proc, param);
}

BOOL WINAPI EndDialog(HWND h, INT_PTR result) {
    Machine& m = Machine::current();
    m.enter("EndDialog", describe(p(h), result));
    return m.windows().endDialog(h, result);
}

BOOL WINAPI DestroyWindow(HWND h) {
    Machine& m = Machine::current();
    if (auto e = m.enter("DestroyWindow", describe(p(h)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().destroyWindow(h);
}

BOOL WINAPI IsWindow(HWND h) { return Machine::current().windows().isWindow(h); }

BOOL WINAPI SetWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetWindowPos", describe(p(h), p(after), x, y, cx, cy, flags))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().setWindowPos(h, after, x, y, cx, cy, flags);
}

BOOL WINAPI PostMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Machine& m = Machine::current();
    if (auto e = m.enter("PostMessageA", describe(p(h), message, wParam, lParam))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().postMessage(h, message, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Machine& m = Machine::current();
    m.enter("SendMessageA", describe(p(h), message, wParam, lParam));
    return m.windows().sendMessage(h, message, wParam, lParam);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND h, UINT, UINT) { return Machine::current().windows().getMessage(msg, h); }

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; } // no keyboard here

LRESULT WINAPI DispatchMessageA(const MSG* msg) { return Machine::current().windows().dispatch(msg); }

void WINAPI PostQuitMessage(int code) { Machine::current().windows().postQuit(code); }

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegisterDeviceNotificationA", describe(p(recipient), flags))) {
        SetLastError(*e);
        return nullptr;
    }
    return m.windows().registerNotification(recipient, filter, flags);
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY h) {
    Machine& m = Machine::current();
    if (auto e = m.enter("UnregisterDeviceNotification", describe(p(h)))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.windows().unregisterNotification(h);
}
