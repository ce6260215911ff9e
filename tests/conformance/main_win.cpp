// The conformance run on the real platform: Windows, or Wine standing in for it.
#include "harness.h"

#include "platform/win32.h"

#include <cstdio>

namespace {

// Wine's ntdll exports its version; Windows' does not.
const char* wineVersion() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll)
        return nullptr;
    using GetVersionFn = const char*(CDECL*)();
    auto get = reinterpret_cast<GetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    return get ? get() : nullptr;
}

// A crash ends the run with a failing status and a line saying so: under
// Wine the debugger it would start otherwise lets the process exit with 0.
LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    std::printf("crashed: exception %#lx at %p\n", info->ExceptionRecord->ExceptionCode,
                info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

} // namespace

const char* conformance::platform_name() {
    static const char* const name = wineVersion() ? "wine" : "windows";
    return name;
}

int main(int argc, char** argv) {
    // A crash must end the run with its output, not wait on a dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    if (const char* version = wineVersion())
        std::printf("running on wine %s\n", version);
    else
        std::printf("running on windows\n");
    // The device-setup DLLs, from the system folder as the deliverables load them.
    LPCSTR missing = nullptr;
    if (!PlatformLoadSystemDlls(&missing)) {
        std::printf("cannot load %s from the system folder: error %lu\n", missing, GetLastError());
        return 1;
    }
    conformance::run(argc, argv);
    return conformance::finish();
}
