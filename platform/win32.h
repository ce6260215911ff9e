// The one seam between the deliverables and the platform.
//
// Every source file of the service, the shell and the card library includes
// this header and nothing else from the platform. On Windows it brings in the
// SDK; everywhere else it brings in the simulated machine's declarations of
// the same names, with the same types and record layouts.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/sim/win32_types.h"
#define WIN32_API(ret, name, params) ret WINAPI name params;
#include "platform/api.inc"
#undef WIN32_API
#endif
