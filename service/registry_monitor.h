// The registry monitor's consumer of the driver's SDIO report.
#pragma once

#include "platform/win32.h"

constexpr LONG kRestoreConsumed = 1; // IsSDIOPresent was 1 and is now 0
constexpr LONG kRestoreNothing = 0;  // nothing to consume
constexpr LONG kRestoreFailed = -1;  // the value cannot be read or written

// Consumes IsSDIOPresent = 1 through `key` (which it does not close).
LONG RestoreRegisterKey(HKEY key);
