// What the simulated machine says about itself: its Windows version,
// processor, Windows directory, and the loaded modules a program can look
// functions up in.
#pragma once

#include "platform/sim/win32_types.h"

#include <string>

namespace sim {

struct SystemConfig {
    DWORD majorVersion = 6;
    DWORD minorVersion = 1;
    DWORD buildNumber = 7601;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    // A 32-bit process on 64-bit Windows: GetSystemInfo reports x86, only
    // GetNativeSystemInfo tells the truth.
    bool wow64Process = false;
    // Before Windows XP, kernel32 has no GetNativeSystemInfo.
    bool hasGetNativeSystemInfo = true;
    bool versionQueryFails = false;
    std::string windowsDirectory = "C:\\WINDOWS";
    // The program's file name: GetModuleHandleA finds the program's module by
    // it (a renamed program is not found under its usual name).
    std::string programFile = "Cardwell.exe";

    // Windows 7 x64, XP x86 and so on, by name: "xp-x86", "2003-x64", "vista-x86",
    // "7-x64", "8-x64", "2000-x86", "7-ia64", "7-x64-wow64".
    static SystemConfig named(const std::string& name);
};

// The program's module handle, as GetModuleHandleA(NULL) answers it; its
// resources are those the machine read from the resource script.
HMODULE programModule();

} // namespace sim
