#include "shell/single_instance.h"

#include "platform/win32.h"

namespace {
// The only content of the "Shared" section: 0 while no copy runs.
volatile LONG gInstanceFlag PLATFORM_SHARED_SECTION("Shared") = 0;
} // namespace

bool ClaimSingleInstance() { return InterlockedExchange(&gInstanceFlag, 1) == 0; }

void SingleInstanceForgetProcessState() { gInstanceFlag = 0; }
