// The service's four thread routines. Each worker signals its entry of
// ghSvcStopThreadEvent on every way out; the listener runs until the process
// ends.
#pragma once

#include "platform/win32.h"

DWORD WINAPI ThreadMonitorSDIORegister(LPVOID unused);
DWORD WINAPI ThreadOperateDriver(LPVOID unused);
DWORD WINAPI ThreadRequestFilter(LPVOID unused);
DWORD WINAPI DialogThread(LPVOID unused);
