// The simulated system-information, module and process functions.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

#include <cstring>
#include <strings.h>

using sim::Machine;
using sim::describe;

namespace {
// Module handles as a 32-bit loader would place them; only their identity matters.
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7C800000));
HMODULE const kUser32 = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x7E410000));

// Vista brought the process's message filter, 7 the window's.
bool atLeast(const sim::SystemConfig& c, DWORD major, DWORD minor) {
    return c.majorVersion > major || (c.majorVersion == major && c.minorVersion >= minor);
}
HMODULE const kProgram = sim::programModule();

void fillSystemInfo(LPSYSTEM_INFO info, WORD architecture) {
    std::memset(info, 0, sizeof *info);
    info->wProcessorArchitecture = architecture;
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 2;
    info->dwAllocationGranularity = 65536;
    info->dwActiveProcessorMask = 3;
}
} // namespace

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetVersionExA", describe(info ? info->dwOSVersionInfoSize : 0u))) {
        SetLastError(*e);
        return FALSE;
    }
    const sim::SystemConfig& c = m.system();
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                  info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (c.versionQueryFails) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(reinterpret_cast<char*>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    info->dwMajorVersion = c.majorVersion;
    info->dwMinorVersion = c.minorVersion;
    info->dwBuildNumber = c.buildNumber;
    info->dwPlatformId = c.platformId;
    if (size == sizeof(OSVERSIONINFOEXA))
        reinterpret_cast<LPOSVERSIONINFOEXA>(info)->wProductType = 1; // a workstation
    return TRUE;
}

void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info) {
    Machine& m = Machine::current();
    m.enter("GetNativeSystemInfo", "");
    fillSystemInfo(info, m.system().nativeArchitecture);
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    Machine& m = Machine::current();
    m.enter("GetSystemInfo", "");
    const sim::SystemConfig& c = m.system();
    fillSystemInfo(info, c.wow64Process ? static_cast<WORD>(PROCESSOR_ARCHITECTURE_INTEL) : c.nativeArchitecture);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetWindowsDirectoryA", describe(size))) {
        SetLastError(*e);
        return 0;
    }
    const std::string& dir = m.system().windowsDirectory;
    auto length = static_cast<UINT>(dir.size());
    if (!buffer || size <= length)
        return length + 1; // the size needed, terminator included; nothing written
    std::memcpy(buffer, dir.c_str(), length + 1);
    return length;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetModuleHandleA", describe(name))) {
        SetLastError(*e);
        return nullptr;
    }
    if (!name)
        return kProgram;
    if (!strcasecmp(name, "kernel32.dll") || !strcasecmp(name, "kernel32"))
        return kKernel32;
    if (!strcasecmp(name, "user32.dll") || !strcasecmp(name, "user32"))
        return kUser32;
    if (!strcasecmp(name, m.system().programFile.c_str()))
        return kProgram;
    SetLastError(126); // ERROR_MOD_NOT_FOUND
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("GetProcAddress", describe(static_cast<void*>(module), name))) {
        SetLastError(*e);
        return nullptr;
    }
    if (module == kKernel32 && name) {
        if (!std::strcmp(name, "GetNativeSystemInfo") && m.system().hasGetNativeSystemInfo)
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&GetNativeSystemInfo));
        if (!std::strcmp(name, "GetSystemInfo"))
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&GetSystemInfo));
    }
    if (module == kUser32 && name) {
        if (!std::strcmp(name, "ChangeWindowMessageFilter") && atLeast(m.system(), 6, 0))
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ChangeWindowMessageFilter));
        if (!std::strcmp(name, "ChangeWindowMessageFilterEx") && atLeast(m.system(), 6, 1))
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ChangeWindowMessageFilterEx));
    }
    SetLastError(127); // ERROR_PROC_NOT_FOUND
    return nullptr;
}

namespace {
// The DLLs the Windows build loads from the system folder, in its order.
#define WIN32_API(ret, name, params)
#define WIN32_INTRINSIC(ret, name, params)
#define PLATFORM_API(ret, name, params)
#define WIN32_API_FROM(dll, ret, name, params) #dll ".dll",
const char* const kLoadedDlls[] = {
#include "platform/api.inc"
};
#undef WIN32_API_FROM
#undef PLATFORM_API
#undef WIN32_INTRINSIC
#undef WIN32_API
} // namespace

// The simulated system folder has every DLL. A fault stands for one that is
// missing: the first the Windows build loads is named, as there.
BOOL WINAPI PlatformLoadSystemDlls(LPCSTR* missing) {
    Machine& m = Machine::current();
    if (auto e = m.enter("PlatformLoadSystemDlls", "")) {
        if (missing)
            *missing = kLoadedDlls[0];
        SetLastError(*e);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION information) {
    Machine& m = Machine::current();
    std::string arguments = describe(application, static_cast<LPCSTR>(commandLine),
                                     static_cast<const void*>(processAttributes),
                                     static_cast<const void*>(threadAttributes), inheritHandles, creationFlags,
                                     static_cast<const void*>(environment), directory, startup ? startup->dwFlags : 0u,
                                     startup ? startup->wShowWindow : 0u);
    if (auto e = m.enter("CreateProcessA", arguments)) {
        SetLastError(*e);
        return FALSE;
    }
    return m.programs().createProcess(application, commandLine, inheritHandles, creationFlags, directory, startup,
                                      information);
}
