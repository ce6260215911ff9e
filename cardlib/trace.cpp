#include "cardlib/trace.h"

#include <stdarg.h>
#include <stdio.h>

namespace ferrocard {

void trace(const char* format, ...) {
    char text[kTraceBufferSize] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // Longer text is cut at 511 characters, whichever way the runtime's
    // vsnprintf treats the last byte.
    text[sizeof text - 1] = '\0';
    OutputDebugStringA(text);
}

} // namespace ferrocard
