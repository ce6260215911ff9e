#include "service/driver_changer.h"

#include "service/device_enumeration.h"
#include "service/parameters.h"
#include "platform/scoped.h"
#include "service/service.h"
#include "service/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

BYTE gbOsVersionCode = kOsUnclassified;

namespace {

// Formats into a text of `size` bytes; false when the result would not fit,
// so that a long Windows directory is refused rather than cut or overrun.
bool composeList(char* out, std::size_t size, const char* format, va_list args) {
    int n = std::vsnprintf(out, size, format, args);
    if (n < 0 || static_cast<std::size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

template <std::size_t N>
bool compose(char (&out)[N], const char* format, ...) PLATFORM_PRINTF_CHECK(2, 3);
template <std::size_t N>
bool compose(char (&out)[N], const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool fits = composeList(out, N, format, args);
    va_end(args);
    return fits;
}

// The tool's command line: its path in quotes, a blank, the parameters. Both
// parts fit their own working texts, so this always fits.
constexpr std::size_t kCommandLineBytes = 2 * kTextBytes + 2;

struct Package {
    BYTE code;
    const char* infFormat;
};

const Package kMakerPackages[] = {
    {kOsXpX86, "%s\\inf\\hxsdc\\hxsdcxp.inf"},       {kOsXpX64, "%s\\inf\\hxsdc\\hxsdcxpx64.inf"},
    {kOsVistaX86, "%s\\inf\\hxsdc\\hxsdcvst.inf"},   {kOsVistaX64, "%s\\inf\\hxsdc\\hxsdcvstx64.inf"},
    {kOsWin7X86, "%s\\inf\\hxsdc\\hxsdcw7.inf"},     {kOsWin7X64, "%s\\inf\\hxsdc\\hxsdcw7x64.inf"},
};

const char* makerInfFormat(BYTE code) {
    for (const Package& p : kMakerPackages)
        if (p.code == code)
            return p.infFormat;
    return nullptr;
}

bool validDeviceId(DWORD id) { return id >= 1 && id <= kMaxDeviceId; }

using NativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

// The processor as Windows sees it, not as a 32-bit process on 64-bit
// Windows is told; systems without GetNativeSystemInfo have only the one view.
WORD processorArchitecture() {
    SYSTEM_INFO info;
    std::memset(&info, 0, sizeof info);
    NativeSystemInfoFn native = nullptr;
    if (HMODULE kernel32 = GetModuleHandleA("kernel32.dll"))
        native = reinterpret_cast<NativeSystemInfoFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel32, "GetNativeSystemInfo")));
    if (native)
        native(&info);
    else
        GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

BYTE versionBits(const OSVERSIONINFOEXA& v) {
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return kOsUnclassified;
    if (v.dwMajorVersion == 5 && (v.dwMinorVersion == 1 || v.dwMinorVersion == 2))
        return kOsXpX86;
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0)
        return kOsVistaX86;
    if (v.dwMajorVersion == 6 && v.dwMinorVersion == 1)
        return kOsWin7X86;
    return kOsUnclassified;
}

// The tool started but its end cannot be seen: it may still be rebinding the
// controller. It gets a bounded while to finish before the caller looks at the
// devices: its process is waited for once more with the bound, or, where that
// cannot be done either, the bound passes.
void giveToolTime(HANDLE process) {
    if (!process || WaitForSingleObject(process, kToolEndBoundMs) == WAIT_FAILED)
        Sleep(kToolEndBoundMs);
}

} // namespace

void DriverChangerForgetProcessState() { gbOsVersionCode = kOsUnclassified; }

int GetOsVersionCode(BYTE& code) {
    if (code != kOsUnclassified)
        return 1;
    code = kOsUnclassified;
    OSVERSIONINFOEXA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version)))
        return 0;
    WORD architecture = processorArchitecture();
    BYTE value = versionBits(version);
    if (value == kOsUnclassified)
        return 0;
    if (architecture == PROCESSOR_ARCHITECTURE_AMD64)
        value |= kOsX64Bit;
    else if (architecture != PROCESSOR_ARCHITECTURE_INTEL)
        return 0;
    code = value;
    return 1;
}

int RunDevconUpdate(const char* windowsDirectory, BYTE osCode, const char* infPath, const char* hardwareId) {
    char tool[kTextBytes];
    char parameters[kTextBytes];
    const char* toolFormat = (osCode & kOsX64Bit) ? "%s\\inf\\hxsdc\\devconx64.exe" : "%s\\inf\\hxsdc\\devcon.exe";
    if (!compose(tool, toolFormat, windowsDirectory) ||
        !compose(parameters, "update %s \"%s\"", infPath, hardwareId)) {
        SvcTrace("RunDevconUpdate: the tool's command does not fit in %u bytes.", static_cast<unsigned>(kTextBytes));
        return 1;
    }
    char commandLine[kCommandLineBytes];
    compose(commandLine, "\"%s\" %s", tool, parameters);
    // Started from the tool's file by its full path: the shell would resolve
    // an .exe through the file associations, which the signed-in user can
    // change for this elevated program to run something else.
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof started);
    if (!CreateProcessA(tool, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        SvcTrace("RunDevconUpdate:Error(%X) in CreateProcess %s.", GetLastError(), tool);
        return 1;
    }
    if (started.hThread)
        CloseHandle(started.hThread);
    // Only a run seen to end counts as done: the operator checks the devices
    // next, and a tool still at work would be rebinding them under it.
    ScopedHandle process(started.hProcess);
    if (!process) {
        SvcTrace("RunDevconUpdate: no process handle to wait for.");
        giveToolTime(nullptr);
        return 1;
    }
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
        SvcTrace("RunDevconUpdate:Error(%X) in WaitForSingleObject.", GetLastError());
        giveToolTime(process.get());
        return 1;
    }
    return 0;
}

int ChangeDriver(int type) {
    if (!validDeviceId(gdwDeviceId)) {
        gdwDeviceId = ReadDeviceID();
        if (!validDeviceId(gdwDeviceId)) {
            SvcTrace("ChangeDriver: DeivceId is %04x, it is not supported!", gdwDeviceId);
            return 0;
        }
    }
    char hardwareId[kTextBytes];
    compose(hardwareId, kHardwareIdFormat, static_cast<unsigned>(gdwDeviceId));

    if (EnumerateDevicesStatus(hardwareId) != 1) {
        SvcTrace("ChangeDriver: Enumerate host controller Devices Status failed");
        return 0;
    }
    if (type != kBindStandardDriver && type != kBindMakerDriver) {
        SvcTrace("ChangeDriver: UpdateDriver flag error");
        return 0;
    }
    if (!GetOsVersionCode(gbOsVersionCode)) {
        SvcTrace("ChangeDriver: the service could not support this OS version(%02x)!\n", gbOsVersionCode);
        return 0;
    }
    char windowsDirectory[kTextBytes];
    UINT length = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
    if (length == 0 || length >= sizeof windowsDirectory) {
        SvcTrace("ChangeDriver:Error(%X) in GetWindowsDirectory, length %u.", GetLastError(), length);
        return 0;
    }

    char infPath[kTextBytes];
    DWORD switching;
    bool fits;
    if (type == kBindStandardDriver) {
        fits = compose(infPath, "%s\\inf\\sdbus.inf", windowsDirectory);
        switching = kSwitchingToStandard;
    } else {
        const char* format = makerInfFormat(gbOsVersionCode);
        if (!format) {
            SvcTrace("ChangeDriver: not support this windows versions!");
            return 0;
        }
        fits = compose(infPath, format, windowsDirectory);
        switching = kSwitchingToMaker;
    }
    if (!fits) {
        SvcTrace("ChangeDriver: the inf path does not fit in %u bytes.", static_cast<unsigned>(kTextBytes));
        return 0;
    }

    SvcTrace("ChangeDriver: inffile=%s", infPath);
    WriteDriverSwitchingForTimerbar(switching);
    int ran = RunDevconUpdate(windowsDirectory, gbOsVersionCode, infPath, hardwareId);
    SvcTrace(ran == 0 ? "ChangeDriver: UpdateDriver OK" : "ChangeDriver: UpdateDriver Failed");
    // The end of the run is retried as the switch flag is: a progress value
    // left set would show a switch in progress for ever.
    switchFlagRetry([] { return WriteDriverSwitchingForTimerbar(0); });
    return ran == 0 ? 1 : 0;
}
