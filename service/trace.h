// The service's trace: one printf-style function for every step. Its lines go
// to the debug output, where a debugger (or the simulated machine) sees them;
// with nobody listening they are discarded.
#pragma once

#include "platform/win32.h"

#if defined(__GNUC__)
#define SVC_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define SVC_PRINTF(f, a)
#endif

void SvcTrace(const char* format, ...) SVC_PRINTF(1, 2);
