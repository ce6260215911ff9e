// The library's trace: printf-style text to the debugger output, cut at 511
// characters. Only the drive probe traces.
#pragma once

#include "platform/win32.h"

namespace ferrocard {

constexpr int kTraceBufferSize = 512;

void trace(const char* format, ...) PLATFORM_PRINTF_CHECK(1, 2);

} // namespace ferrocard
