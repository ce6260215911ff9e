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
// The device-setup and configuration-manager functions are not imported but
// loaded from the system folder at start (WIN32_API_FROM in api.inc): their
// headers then declare them as plain functions, which
// platform/win/system_dlls.cpp defines.
#define _SETUPAPI_
#define _CFGMGR32_
#include <windows.h>
// The parts of the SDK that lean windows.h leaves out.
#include <cfgmgr32.h>
#include <dbt.h>
#include <setupapi.h>
#include <shellapi.h>
#include <winioctl.h>
#include <ntddscsi.h>
// The SDK declares the rest.
#define WIN32_API(ret, name, params)
#define WIN32_API_FROM(dll, ret, name, params)
#define WIN32_INTRINSIC(ret, name, params)
#else
#include "platform/sim/win32_types.h"
#define WIN32_API(ret, name, params) ret WINAPI name params;
#define WIN32_API_FROM(dll, ret, name, params) ret WINAPI name params;
#define WIN32_INTRINSIC(ret, name, params) ret name params;
#endif
#define PLATFORM_API(ret, name, params) ret WINAPI name params;
#include "platform/api.inc"
#undef PLATFORM_API
#undef WIN32_INTRINSIC
#undef WIN32_API_FROM
#undef WIN32_API

#include <stdint.h>

// Marks a printf-style function for the compiler's format checks. Only the
// simulated build checks: there DWORD is `unsigned int`, while on Windows it is
// `unsigned long`, of the same 32 bits, and %x is the format its own tools use.
#if defined(_WIN32) || !defined(__GNUC__)
#define PLATFORM_PRINTF_CHECK(format_index, first_arg)
#else
#define PLATFORM_PRINTF_CHECK(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#endif

// Puts a variable into the program file's data section `name`, marked
// shared: every process started from the file sees the one copy. The
// simulated machine runs every copy of a program in one address space, where
// an ordinary global is already shared between them.
#ifdef _WIN32
#define PLATFORM_SHARED_SECTION(name) __attribute__((section(name), shared))
#else
#define PLATFORM_SHARED_SECTION(name)
#endif

// Declares one more name for `target`, a function defined in the same file.
// GCC wants the alias to carry the nothrow it infers for the target (mingw's
// i686 compiler does, without exceptions); clang takes that nothrow for a
// noexcept the first declaration lacked, and refuses it.
#ifdef __clang__
#define PLATFORM_ALIAS_OF(target) __attribute__((alias(target)))
#else
#define PLATFORM_ALIAS_OF(target) __attribute__((alias(target), nothrow))
#endif

#include "platform/record_sizes.h"
