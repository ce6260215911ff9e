#include "service/trace.h"

#include <cstdarg>
#include <cstdio>

void SvcTrace(const char* format, ...) {
    // Tracing must not disturb the error code the caller is about to use.
    DWORD saved = GetLastError();
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);
    SetLastError(saved);
}
