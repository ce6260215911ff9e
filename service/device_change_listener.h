// The device-change listener: a hidden dialog on its own thread whose one
// effect is to raise the request for the maker's driver on every device-tree
// change broadcast.
#pragma once

#include "platform/win32.h"

constexpr WORD kListenerDialogId = 129;

extern HWND ghDialogWnd;
extern HDEVNOTIFY ghDevNotify;

// Back to the state of a freshly loaded process: no window, no registration.
void ListenerForgetProcessState();

INT_PTR CALLBACK SdioDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int DoRegisterDeviceInterfaceToHwnd(GUID interfaceClass, HWND window, HDEVNOTIFY* notify);
