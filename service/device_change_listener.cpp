#include "service/device_change_listener.h"

#include "service/hidden_window.h"
#include "service/service.h"
#include "service/trace.h"
#include "service/workers.h"

#include <cstring>

HWND ghDialogWnd;
HDEVNOTIFY ghDevNotify;

namespace {

// The interface class the listener registers for. Nothing assigns it: the
// listener rests on the device-tree broadcast, which needs no registration.
GUID gInterfaceClass;

struct DeviceEventName {
    WPARAM code;
    const char* trace;
};

const DeviceEventName kDeviceEvents[] = {
    {DBT_DEVNODES_CHANGED, "DBT_DEVNODES_CHANGED"},
    {DBT_CONFIGCHANGED, "DBT_CONFIGCHANGED"},
    {DBT_DEVICEARRIVAL, "DBT_DEVICEARRIVAL"},
    {DBT_DEVICEQUERYREMOVE, "DBT_DEVICEQUERYREMOVE"},
    {DBT_DEVICEQUERYREMOVEFAILED, "DBT_DEVICEQUERYREMOVEFAILED"},
    {DBT_DEVICEREMOVEPENDING, "DBT_DEVICEREMOVEPENDING"},
    {DBT_DEVICEREMOVECOMPLETE, "DBT_DEVICEREMOVECOMPLETE"},
    {DBT_DEVICETYPESPECIFIC, "DBT_DEVICETYPESPECIFIC"},
};

void onDeviceChange(WPARAM code) {
    SvcTrace("[WM_DEVICECHANGE]");
    for (const DeviceEventName& e : kDeviceEvents) {
        if (e.code != code)
            continue;
        SvcTrace("%s", e.trace);
        if (code == DBT_DEVNODES_CHANGED)
            SetEvent(ghChangeHXDriverRequestEvent);
        return;
    }
}

} // namespace

void ListenerForgetProcessState() {
    ghDialogWnd = nullptr;
    ghDevNotify = nullptr;
}

int DoRegisterDeviceInterfaceToHwnd(GUID interfaceClass, HWND window, HDEVNOTIFY* notify) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    *notify = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!*notify) {
        SvcTrace("RegisterDeviceNotification");
        return 0;
    }
    return 1;
}

INT_PTR CALLBACK SdioDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // Once, for the window this thread made: a WM_INITDIALOG to a window
        // already recorded came from another program, and changes nothing.
        if (window == ghDialogWnd)
            break;
        // Off the screen's corner: the window is never meant to be seen.
        SetWindowPos(window, nullptr, -10, -10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ghDialogWnd = window;
        if (!DoRegisterDeviceInterfaceToHwnd(gInterfaceClass, window, &ghDevNotify))
            SvcTrace("DoRegisterDeviceInterfaceToHwnd");
        break;
    case WM_DEVICECHANGE:
        onDeviceChange(wParam);
        break;
    case WM_WINDOWPOSCHANGING:
        // Only an ear for broadcasts: never seen.
        RefuseToBeShown(lParam);
        break;
    default:
        break;
    }
    // The registration lasts only to the end of the message that made it.
    if (ghDevNotify) {
        if (!UnregisterDeviceNotification(ghDevNotify))
            SvcTrace("UnregisterDeviceNotification");
        ghDevNotify = nullptr;
    }
    return FALSE;
}

DWORD WINAPI DialogThread(LPVOID) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    ghDialogWnd = CreateDialogParamA(self, MAKEINTRESOURCEA(kListenerDialogId), nullptr, nullptr, 0);
    // The modal box's loop is the listener's message loop; the procedure never
    // ends it, so the thread stays here until the process ends.
    DialogBoxParamA(self, MAKEINTRESOURCEA(kListenerDialogId), ghDialogWnd, SdioDialogProc, 0);
    WaitForSingleObject(ghSvcStopEvent, INFINITE);
    SvcTrace("DestroyWindow Dialog");
    DestroyWindow(ghDialogWnd);
    ghDialogWnd = nullptr;
    SvcTrace("Exit DialogThread");
    return 0;
}
