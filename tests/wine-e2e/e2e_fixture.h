// What the end-to-end test and its device-console stand-in share: the probe
// key where the tool logs its runs and the test says whether an SDIO card is
// in the reader, and the devices the tool adds to and changes in Wine's
// device tree.
#pragma once

#include "service/device_enumeration.h"

#include "../wine/wine_support.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace e2e {

// HKCU\<kProbeKey>: the card flag the test sets, and the tool's log of runs.
constexpr const char* kProbeKey = "Software\\CardwellWineE2E";
constexpr const char* kCardInserted = "CardInserted"; // DWORD 1 while an SDIO card is in the reader
constexpr const char* kRunsStarted = "RunsStarted";   // DWORD, counts tool runs as they start
constexpr const char* kRunsEnded = "RunsEnded";       // DWORD, counts them as they end
constexpr const char* kHoldMs = "HoldMs";             // DWORD: how long a run takes after its work (absent: 300 ms)
// One subkey per run, Run1, Run2, ...:
constexpr const char* kRunParameters = "Parameters";   // REG_SZ: the tool's command line after its path
constexpr const char* kRunCommandLine = "CommandLine"; // REG_SZ: the tool's whole command line
constexpr const char* kRunSwitching = "IsSwitchingDrv"; // DWORD: the value while the tool ran (absent: 0xFFFFFFFF)
constexpr const char* kRunStartUs = "StartUs";         // QWORD: winetest::nowUs() as the tool started
constexpr const char* kRunEndUs = "EndUs";             // QWORD: the same just before it ended

inline std::string runKey(DWORD run) {
    char name[64];
    std::snprintf(name, sizeof name, "%s\\Run%u", kProbeKey, static_cast<unsigned>(run));
    return name;
}

// The controller in Wine's device tree, by the registry alone: a key under
// Enum with a class and a description, the description naming the driver
// bound (what the service's driver searches look for).
constexpr const char* kControllerDevice = "System\\CurrentControlSet\\Enum\\PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01";
constexpr const char* kControllerInstance =
    "System\\CurrentControlSet\\Enum\\PCI\\VEN_1B2C&DEV_1234&SUBSYS_10001B2C&REV_01\\4&2a1b3c4d&0&00E1";
constexpr const char* kControllerClass = "{4d36e97b-e325-11ce-bfc1-08002be10318}";

// The SDIO card as the standard driver's SD bus shows it: a child device
// whose identifier starts with SD\ (all the service's SD-bus check asks).
constexpr const char* kSdEnumerator = "System\\CurrentControlSet\\Enum\\SD";
constexpr const char* kSdioDevice = "System\\CurrentControlSet\\Enum\\SD\\VID_02D0&PID_4329";
constexpr const char* kSdioInstance = "System\\CurrentControlSet\\Enum\\SD\\VID_02D0&PID_4329\\5&3c1d2e7f&0&0";
constexpr const char* kSdioClass = "{4d36e972-e325-11ce-bfc1-08002be10318}"; // network adapters
constexpr const char* kSdioDescription = "SDIO wireless network adapter";

inline bool describeController(const char* description) {
    return winetest::setString(HKEY_LOCAL_MACHINE, kControllerInstance, "ClassGUID", kControllerClass) &&
           winetest::setString(HKEY_LOCAL_MACHINE, kControllerInstance, "DeviceDesc", description);
}

inline std::string controllerDescription() {
    std::string text;
    winetest::readString(HKEY_LOCAL_MACHINE, kControllerInstance, "DeviceDesc", &text);
    return text;
}

inline bool addSdioDevice() {
    return winetest::setString(HKEY_LOCAL_MACHINE, kSdioInstance, "ClassGUID", kSdioClass) &&
           winetest::setString(HKEY_LOCAL_MACHINE, kSdioInstance, "DeviceDesc", kSdioDescription);
}

inline bool sdioDevicePresent() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSdioInstance, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The SD bus's device goes, and with it the SD enumerator's key once nothing
// else is under it (RegDeleteKeyA refuses a key with subkeys).
inline void removeSdioDevice() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSdioDevice);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSdioDevice);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSdEnumerator);
}

inline void removeController() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kControllerInstance);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kControllerInstance);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kControllerDevice);
}

// The system's announcement that the device tree changed, to every top-level
// window: the service's listener among them.
inline bool announceDeviceChange() {
    return PostMessageA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0) != FALSE;
}

} // namespace e2e
