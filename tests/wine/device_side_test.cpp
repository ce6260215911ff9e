// The service's device side on Wine, through its real Win32 calls: the
// system's classification, the device-console run, and the walks over the
// device tree with the Halvex controller added to Wine's registry.
//
// Wine 8.0's CM_Get_Device_ID_ExA and CM_Get_DevNode_Status_Ex succeed and
// write nothing, so the walks that name or examine a device run against the
// cfgmgr32 stand-in in the system folder (loaded with
// WINEDLLOVERRIDES=cfgmgr32=n,b). Without it those checks are marked as
// known differences.
#include "service/device_enumeration.h"
#include "service/driver_changer.h"
#include "service/parameters.h"
#include "service/service.h"

#include "../conformance/harness.h"
#include "wine_support.h"

#include <regstr.h> // CONFIGFLAG_DISABLED

#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace winetest;

constexpr const char* kDeviceKey = "System\\CurrentControlSet\\Enum\\PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01";
constexpr const char* kInstanceKey =
    "System\\CurrentControlSet\\Enum\\PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01\\4&2a1b3c4d&0&00E1";
constexpr const char* kSdHostClass = "{4d36e97b-e325-11ce-bfc1-08002be10318}";
constexpr const char* kHardwareId = "pci\\ven_1b2c&dev_1234";
constexpr const char* kStandardInf = "C:\\windows\\inf\\sdbus.inf";
constexpr const char* kStandardRun = "update C:\\windows\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\"";
constexpr const char* kMakerRun = "update C:\\windows\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\"";
constexpr DWORD kToolRunMs = 300;      // how long the fake tool takes
constexpr double kQuickFailMs = 2000;  // a tool that is not there is refused within this
constexpr double kCallLimitMs = 10000; // for any RunDevconUpdate call to return
constexpr DWORD kWatchStepMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF; // the text of a message box
constexpr const char* kStubs = "Wine 8.0's CM_Get_Device_ID_ExA and CM_Get_DevNode_Status_Ex are stubs that "
                               "succeed and write nothing; run with the cfgmgr32 stand-in";

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

// Is cfgmgr32.dll the stand-in? It exports only the two calls the service
// imports, where Wine's own (like Windows') exports them all. Its file name
// tells nothing: Wine names a built-in DLL after the file it found first.
bool standIn() {
    HMODULE module = GetModuleHandleA("cfgmgr32.dll");
    return module && GetProcAddress(module, "CM_Get_Device_ID_ExA") && !GetProcAddress(module, "CM_Get_Device_IDA");
}

// SetupDiGetDeviceInstanceIdA, which the service never calls, so the platform
// defines no name for it: taken from the setupapi.dll the platform loaded.
bool deviceInstanceId(HDEVINFO list, SP_DEVINFO_DATA* element, char* id, DWORD size) {
    HMODULE setupapi = GetModuleHandleA("setupapi.dll");
    FARPROC found = setupapi ? GetProcAddress(setupapi, "SetupDiGetDeviceInstanceIdA") : nullptr;
    auto get = reinterpret_cast<decltype(&SetupDiGetDeviceInstanceIdA)>(reinterpret_cast<void*>(found));
    return get && get(list, element, id, size, nullptr);
}

std::string windowsDirectory() {
    char path[MAX_PATH];
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// The Halvex controller in Wine's device tree, by the registry alone, for
// one test. Without a description it is a device with no driver installed.
class Controller {
public:
    explicit Controller(const char* description, DWORD configFlags = 0) {
        remove(); // whatever an earlier run left
        made_ = setString(HKEY_LOCAL_MACHINE, kInstanceKey, "ClassGUID", kSdHostClass);
        if (description)
            describe(description);
        if (configFlags)
            setDword(HKEY_LOCAL_MACHINE, kInstanceKey, "ConfigFlags", configFlags);
    }
    ~Controller() { remove(); }
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    bool made() const { return made_; }
    bool describe(const char* description) {
        return setString(HKEY_LOCAL_MACHINE, kInstanceKey, "DeviceDesc", description);
    }

private:
    static void remove() {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstanceKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDeviceKey);
    }
    bool made_ = false;
};

// The fake tool installed as the device console, for one test.
class InstalledTool {
public:
    InstalledTool() : folder_(windowsDirectory() + "\\inf\\hxsdc"), path_(folder_ + "\\devconx64.exe") {
        CreateDirectoryA(folder_.c_str(), nullptr);
        installed_ = CopyFileA((programFolder() + "fake_devcon.exe").c_str(), path_.c_str(), FALSE) != FALSE;
        ok(installed_, "cannot install the fake tool as %s: error %u\n", path_.c_str(), u(GetLastError()));
    }
    ~InstalledTool() { DeleteFileA(path_.c_str()); }
    InstalledTool(const InstalledTool&) = delete;
    InstalledTool& operator=(const InstalledTool&) = delete;

    bool installed() const { return installed_; }

private:
    std::string folder_;
    std::string path_;
    bool installed_ = false;
};

// What the fake tool reported of its runs since the probe was cleared.
struct ToolReport {
    DWORD runs = 0;
    std::string tail;
    DWORD switching = kValueAbsent;

    static ToolReport read() {
        ToolReport r;
        readDword(HKEY_CURRENT_USER, kProbeKey, kProbeDevconRuns, &r.runs);
        readString(HKEY_CURRENT_USER, kProbeKey, kProbeDevconTail, &r.tail);
        readDword(HKEY_CURRENT_USER, kProbeKey, kProbeDevconSwitching, &r.switching);
        return r;
    }
};

double msSince(long long startUs) {
    return static_cast<double>(nowUs() - startUs) / 1000.0;
}

// A RunDevconUpdate call made on a thread of its own, so that a box shown on
// the way is seen and dismissed rather than blocking the test.
struct DevconCall {
    const char* windows;
    BYTE os;
    int result = -1;
    bool ended = false;
    double tookMs = 0;
    std::string box; // the caption and text of a box the call showed
};

DWORD WINAPI devconThread(LPVOID parameter) {
    auto* call = static_cast<DevconCall*>(parameter);
    call->result = RunDevconUpdate(call->windows, call->os, kStandardInf, kHardwareId);
    return 0;
}

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char className[16];
    if (!GetClassNameA(window, className, sizeof className) || std::strcmp(className, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

DevconCall runDevconWatched(const char* windows, BYTE os) {
    DevconCall call;
    call.windows = windows;
    call.os = os;
    DWORD threadId = 0;
    long long start = nowUs();
    HANDLE thread = CreateThread(nullptr, 0, devconThread, &call, 0, &threadId);
    if (!thread)
        return call;
    while (msSince(start) < kCallLimitMs) {
        if (WaitForSingleObject(thread, kWatchStepMs) == WAIT_OBJECT_0) {
            call.ended = true;
            break;
        }
        HWND box = nullptr;
        EnumThreadWindows(threadId, findDialog, reinterpret_cast<LPARAM>(&box));
        if (box && call.box.empty()) {
            char caption[128] = {}, text[256] = {};
            GetWindowTextA(box, caption, sizeof caption);
            int n = GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
            while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
                text[--n] = '\0';
            call.box = std::string("\"") + caption + ": " + text + "\"";
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    call.tookMs = msSince(start);
    // A call that never returns is left to the process's end: its thread
    // still uses `call`, so the test stops here.
    if (!call.ended) {
        ok(false, "RunDevconUpdate still runs after %u ms; stopping\n", u(kCallLimitMs));
        ExitProcess(conformance::finish());
    }
    CloseHandle(thread);
    return call;
}

} // namespace

// Asked for the cfgmgr32 stand-in (WINEDLLOVERRIDES=cfgmgr32=n,b), the test
// must have it: one of the wrong architecture would leave Wine's own loaded,
// and the walks below would pass as known differences.
CONFORMANCE_TEST(device_0_stand_in_when_asked) {
    char overrides[256] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    const bool asked = std::strstr(overrides, "cfgmgr32=n") != nullptr;
    ok(standIn() == asked, "the cfgmgr32 stand-in is %sloaded with WINEDLLOVERRIDES=%s\n", standIn() ? "" : "not ",
       overrides);
}

CONFORMANCE_TEST(device_1_os_version_code) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    SYSTEM_INFO own = {};
    GetSystemInfo(&own);
    trace("the system reports %u.%u build %u; this %u-bit process sees processor architecture %u\n",
          u(version.dwMajorVersion), u(version.dwMinorVersion), u(version.dwBuildNumber),
          u(sizeof(void*) * 8), u(own.wProcessorArchitecture));

    // A 32-bit build is told of an x86 processor; the service asks for the
    // system's own and classifies 64-bit Windows 7 all the same.
    BYTE code = kOsUnclassified;
    ok(GetOsVersionCode(code) == 1, "Windows 7 x64 is not supported\n");
    ok(code == kOsWin7X64, "Windows 7 x64 classified as %#x, expected %#x\n", code, kOsWin7X64);

    // Classified once per process: a code already held is kept as it is.
    BYTE held = kOsVistaX86;
    ok(GetOsVersionCode(held) == 1 && held == kOsVistaX86, "a held code became %#x\n", held);
}

CONFORMANCE_TEST(device_2_devcon_run) {
    const std::string windows = windowsDirectory();
    ok(windows == "C:\\windows", "the Windows directory is %s\n", windows.c_str());

    struct Row {
        const char* what;
        bool installed;
        BYTE os;
        bool runs;
    };
    const Row rows[] = {
        {"the x64 tool", true, kOsWin7X64, true},
        {"the x86 tool, which is not there", true, kOsWin7X86, false},
        {"the x64 tool, not installed", false, kOsWin7X64, false},
    };
    for (const Row& row : rows) {
        std::optional<InstalledTool> tool;
        if (row.installed)
            tool.emplace();
        clearProbe();
        DevconCall call = runDevconWatched(windows.c_str(), row.os);
        ToolReport report = ToolReport::read();
        tool.reset();

        trace("%s: RunDevconUpdate answered %d after %.1f ms\n", row.what, call.result, call.tookMs);
        ok(call.ended, "%s: RunDevconUpdate has not returned after %u ms\n", row.what, u(kCallLimitMs));
        if (row.runs) {
            ok(call.result == 0, "%s: RunDevconUpdate answered %d\n", row.what, call.result);
            // The tool reports only as it ends: a report means the call waited.
            ok(report.runs == 1, "%s: %u runs had ended when RunDevconUpdate returned\n", row.what, u(report.runs));
            ok(call.tookMs >= kToolRunMs, "%s: returned after %.1f ms, the tool takes %u\n", row.what, call.tookMs,
               u(kToolRunMs));
            ok(report.tail == kStandardRun, "%s: the tool was given [%s]\n", row.what, report.tail.c_str());
            ok(call.box.empty(), "%s: a box was shown: %s\n", row.what, call.box.c_str());
        } else {
            ok(call.result != 0, "%s: RunDevconUpdate answered 0\n", row.what);
            ok(call.tookMs < kQuickFailMs, "%s: refused only after %.1f ms\n", row.what, call.tookMs);
            ok(report.runs == 0, "%s: %u runs\n", row.what, u(report.runs));
            // Where windows can be shown, the shell reports a missing file in a
            // box and waits for it to be dismissed, unless told not to; the
            // test would dismiss one, but none must come.
            ok(call.box.empty(), "%s: RunDevconUpdate waited on a box: %s\n", row.what, call.box.c_str());
        }
    }
}

CONFORMANCE_TEST(device_3_find_driver_by_description) {
    ok(FindHalvexDriver() == 0 && FindMicrosoftDriver() == 0, "a controller is there before the test adds one\n");

    struct Row {
        const char* description;
        int halvex;
        int microsoft;
    };
    const Row rows[] = {
        {kMakerDriverDescription, 1, 0},
        {kStandardDriverDescription, 0, 1},
        {"HALVEX INTEGRATED MMC/SD CONTROLLER", 1, 0},    // compared without regard to case
        {"Halvex Integrated MMC/SD controller #2", 0, 0}, // whole text, not a prefix
        {"SDA Standard Compliant SD Host", 0, 0},
    };
    {
        Controller controller(kMakerDriverDescription);
        ok(controller.made(), "cannot add the controller to the device tree\n");
        for (const Row& row : rows) {
            ok(controller.describe(row.description), "cannot describe the controller\n");
            ok(FindHalvexDriver() == row.halvex, "[%s]: FindHalvexDriver is not %d\n", row.description, row.halvex);
            ok(FindMicrosoftDriver() == row.microsoft, "[%s]: FindMicrosoftDriver is not %d\n", row.description,
               row.microsoft);
        }
    }
    ok(FindHalvexDriver() == 0 && FindMicrosoftDriver() == 0, "the controller is still found after its removal\n");
}

// The two configuration-manager calls themselves, with their output filled
// beforehand so that a call that writes nothing shows.
CONFORMANCE_TEST(device_4_config_manager_calls) {
    Controller controller(kMakerDriverDescription);
    HDEVINFO list =
        SetupDiGetClassDevsExA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    ok(list != INVALID_HANDLE_VALUE, "SetupDiGetClassDevsExA: error %#x\n", u(GetLastError()));
    if (list == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    char expected[MAX_DEVICE_ID_LEN] = {};
    bool found = false;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(list, i, &element); ++i)
        found = deviceInstanceId(list, &element, expected, sizeof expected) &&
                MatchDeviceId(expected, kHardwareId);
    ok(found, "the controller is not in the device list\n");
    if (found) {
        trace("the controller is %s\n", expected);
        char id[MAX_DEVICE_ID_LEN];
        std::memset(id, 'x', sizeof id);
        ok(CM_Get_Device_ID_ExA(element.DevInst, id, sizeof id, 0, nullptr) == CR_SUCCESS,
           "CM_Get_Device_ID_ExA failed\n");
        ULONG status = 0xdeadbeef, problem = 0xdeadbeef;
        ok(CM_Get_DevNode_Status_Ex(&status, &problem, element.DevInst, 0, nullptr) == CR_SUCCESS,
           "CM_Get_DevNode_Status_Ex failed\n");
        todo_on(!standIn(), kStubs) {
            ok(std::memchr(id, '\0', sizeof id) && std::strcmp(id, expected) == 0,
               "CM_Get_Device_ID_ExA gave [%.32s]\n", id);
            ok(status == (DN_STARTED | DN_DRIVER_LOADED) && problem == 0,
               "CM_Get_DevNode_Status_Ex gave status %#lx, problem %#lx\n", status, problem);
        }
    }
    SetupDiDestroyDeviceInfoList(list);
}

CONFORMANCE_TEST(device_5_enumerate_devices) {
    if (!standIn()) {
        Controller controller(kMakerDriverDescription);
        todo_on(true, kStubs) {
            ok(EnumerateDevicesStatus(kHardwareId) == 1, "the running controller is not found running\n");
            ok(EnumerateDevices(kHardwareId) == 0, "the controller is not found\n");
        }
        trace("the other device states are told apart only through the cfgmgr32 stand-in\n");
        return;
    }
    struct Row {
        const char* what;
        bool present;
        const char* description;
        DWORD configFlags;
        const char* pattern;
        int status;    // EnumerateDevicesStatus
        int enumerate; // EnumerateDevices
    };
    const Row rows[] = {
        {"running", true, kMakerDriverDescription, 0, kHardwareId, 1, 0},
        {"running, asked in capitals", true, kMakerDriverDescription, 0, "PCI\\VEN_1B2C&DEV_1234", 1, 0},
        {"running, asked by prefix", true, kMakerDriverDescription, 0, "pci\\ven_1b2c*", 1, 0},
        {"running, asked for another device", true, kMakerDriverDescription, 0, "pci\\ven_1b2c&dev_1235", 0, 2},
        {"disabled", true, kMakerDriverDescription, CONFIGFLAG_DISABLED, kHardwareId, 0, 0},
        {"no driver installed", true, nullptr, 0, kHardwareId, 0, 0},
        {"absent", false, nullptr, 0, kHardwareId, 0, 2},
    };
    for (const Row& row : rows) {
        std::optional<Controller> controller;
        if (row.present)
            controller.emplace(row.description, row.configFlags);
        ok(EnumerateDevicesStatus(row.pattern) == row.status, "%s: EnumerateDevicesStatus(%s) is not %d\n", row.what,
           row.pattern, row.status);
        ok(EnumerateDevices(row.pattern) == row.enumerate, "%s: EnumerateDevices(%s) is not %d\n", row.what,
           row.pattern, row.enumerate);
    }
}

CONFORMANCE_TEST(device_6_change_driver) {
    ParametersKey parameters;
    ok(parameters.made(), "cannot make the parameters key\n");
    InstalledTool tool;

    if (!standIn()) {
        Controller controller(kMakerDriverDescription);
        gdwDeviceId = 0x1234;
        clearProbe();
        todo_on(true, kStubs) {
            ok(ChangeDriver(kBindStandardDriver) == 1, "ChangeDriver(1) refused the running controller\n");
            ok(ToolReport::read().runs == 1, "the tool did not run\n");
        }
        gdwDeviceId = 0;
        return;
    }
    struct Row {
        const char* what;
        int type;
        DWORD configFlags;
        bool idFromRegistry; // gdwDeviceId unset: ChangeDriver reads DeviceId
        int result;
        const char* run; // the tool's parameters; nullptr: not run
        DWORD switching; // IsSwitchingDrv while the tool ran
    };
    const Row rows[] = {
        {"the standard driver", kBindStandardDriver, 0, false, 1, kStandardRun, kSwitchingToStandard},
        {"the maker's driver", kBindMakerDriver, 0, false, 1, kMakerRun, kSwitchingToMaker},
        {"the standard driver, DeviceId from the registry", kBindStandardDriver, 0, true, 1, kStandardRun,
         kSwitchingToStandard},
        {"an unknown type", 3, 0, false, 0, nullptr, 0},
        {"a disabled controller", kBindStandardDriver, CONFIGFLAG_DISABLED, false, 0, nullptr, 0},
    };
    for (const Row& row : rows) {
        Controller controller(kMakerDriverDescription, row.configFlags);
        parameters.remove(kValueIsSwitchingDrv);
        parameters.set(kValueDeviceId, 0x1234);
        gdwDeviceId = row.idFromRegistry ? 0 : 0x1234;
        clearProbe();

        long long start = nowUs();
        int result = ChangeDriver(row.type);
        double took = msSince(start);
        ToolReport report = ToolReport::read();
        DWORD after = kValueAbsent;
        parameters.read(kValueIsSwitchingDrv, &after);

        trace("%s: ChangeDriver(%d) answered %d after %.1f ms\n", row.what, row.type, result, took);
        ok(result == row.result, "%s: ChangeDriver(%d) answered %d\n", row.what, row.type, result);
        if (row.run) {
            ok(report.runs == 1, "%s: %u runs of the tool\n", row.what, u(report.runs));
            ok(report.tail == row.run, "%s: the tool was given [%s]\n", row.what, report.tail.c_str());
            ok(report.switching == row.switching, "%s: IsSwitchingDrv was %#x during the run\n", row.what,
               u(report.switching));
            ok(after == 0, "%s: IsSwitchingDrv is %#x after the run\n", row.what, u(after));
        } else {
            ok(report.runs == 0, "%s: the tool ran %u times\n", row.what, u(report.runs));
            ok(after == kValueAbsent, "%s: IsSwitchingDrv written (%#x) without a run\n", row.what, u(after));
        }
        ok(gdwDeviceId == 0x1234, "%s: gdwDeviceId is %#x\n", row.what, u(gdwDeviceId));
    }
    gdwDeviceId = 0;
}
