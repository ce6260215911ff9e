// The service's trace: one printf-style function for every step. Its lines go
// to the debug output, where a debugger (or the simulated machine) sees them;
// with nobody listening they are discarded.
#pragma once

#include "platform/win32.h"

void SvcTrace(const char* format, ...) PLATFORM_PRINTF_CHECK(1, 2);

// Registry calls answer a status instead of setting the thread's error code;
// error traces report the thread's code, so it is set from the status first.
inline DWORD errorCodeOf(LONG status) {
    SetLastError(static_cast<DWORD>(status));
    return GetLastError();
}
