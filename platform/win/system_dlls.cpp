// The system DLLs that Cardwell and Ferrocard call but do not import.
//
// Windows looks for an imported DLL that is not a known DLL in the program's
// own folder first, and LoadLibrary by a bare name in the current directory
// too: whoever can write there has their code run inside an administrator's
// Cardwell, or inside the application that loaded Ferrocard. So the functions
// api.inc lists with WIN32_API_FROM are not imported. Their DLLs are loaded
// once, by full path from the system folder, with
// LOAD_WITH_ALTERED_SEARCH_PATH so that what those DLLs import in turn is
// looked for in the system folder first as well; the SDK's name of each
// function is defined here as a jump through the address found, so callers
// compile and call exactly as they would an import.
#include "platform/win32.h"

#include <cstring>

namespace {

#define WIN32_API(ret, name, params)
#define WIN32_INTRINSIC(ret, name, params)
#define PLATFORM_API(ret, name, params)

// One address per function, set by PlatformLoadSystemDlls.
#define WIN32_API_FROM(dll, ret, name, params) FARPROC slot_##name;
#include "platform/api.inc"
#undef WIN32_API_FROM

struct Import {
    const char* dll;
    const char* function;
    FARPROC* slot;
};

// In the list's order: one DLL's functions follow each other there.
#define WIN32_API_FROM(dll, ret, name, params) {#dll ".dll", #name, &slot_##name},
const Import kImports[] = {
#include "platform/api.inc"
};
#undef WIN32_API_FROM

// The SDK's names, each a jump through its address. The compiler prints each
// symbol as the linker knows it (%p), stdcall decoration of the 32-bit build
// included (_SetupDiEnumDeviceInfo@12). Called before the load, a name jumps
// to address 0 and the process faults: nothing runs by mistake.
#ifdef _WIN64
#define PLATFORM_JUMP "jmp *%p1(%%rip)"
#else
#define PLATFORM_JUMP "jmp *%p1"
#endif
#define WIN32_API_FROM(dll, ret, name, params)                                                        \
    asm volatile(".globl %p0\n%p0:\n\t" PLATFORM_JUMP "\n" : : "i"(&::name), "i"(&slot_##name));
// Never called: it only carries the jumps into the code section.
__attribute__((used, noinline)) void jumps() {
#include "platform/api.inc"
}
#undef WIN32_API_FROM

#undef PLATFORM_API
#undef WIN32_INTRINSIC
#undef WIN32_API

// The first call's outcome, which every later call answers with.
enum LoadState : LONG { kUntried, kLoaded, kFailed };
LONG gState = kUntried;
LPCSTR gMissing;
DWORD gError;

// "<system folder>\<dll>" into `path`; false (with the error) when it does not fit.
bool systemPath(const char* dll, char (&path)[MAX_PATH], DWORD* error) {
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        *error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    std::size_t name = std::strlen(dll);
    if (length + name >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::memcpy(path + length, dll, name + 1);
    return true;
}

bool loadAll(LPCSTR* missing, DWORD* error) {
    HMODULE module = nullptr;
    const char* loaded = nullptr;
    for (const Import& import : kImports) {
        if (!loaded || std::strcmp(loaded, import.dll) != 0) {
            char path[MAX_PATH];
            *missing = import.dll;
            if (!systemPath(import.dll, path, error))
                return false;
            module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            if (!module) {
                *error = GetLastError();
                return false;
            }
            loaded = import.dll;
        }
        FARPROC address = GetProcAddress(module, import.function);
        if (!address) {
            *missing = import.function;
            *error = GetLastError();
            return false;
        }
        *import.slot = address;
    }
    return true;
}

} // namespace

// Cardwell asks on its main thread, at the service's start. An application
// may call Ferrocard from two threads at once: both then load, which only
// counts each DLL's use twice, and write the same addresses. A DLL loaded
// before a failure stays loaded: the process holds no state of it.
BOOL WINAPI PlatformLoadSystemDlls(LPCSTR* missing) {
    if (InterlockedCompareExchange(&gState, kUntried, kUntried) == kUntried) {
        LPCSTR name = nullptr;
        DWORD error = ERROR_SUCCESS;
        bool loaded = loadAll(&name, &error);
        gMissing = name;
        gError = error;
        InterlockedExchange(&gState, loaded ? kLoaded : kFailed);
    }
    if (InterlockedCompareExchange(&gState, kUntried, kUntried) == kLoaded)
        return TRUE;
    if (missing)
        *missing = gMissing;
    SetLastError(gError);
    return FALSE;
}
