// Plays the device-console tool for the end-to-end test. The test installs it
// as C:\windows\inf\hxsdc\devconx64.exe, where the tray program's service
// starts it. Each run is logged under the probe key (its parameters, the
// IsSwitchingDrv value it found, when it started and ended) and does what the
// real tool's "update" does to the controller in Wine's device tree:
//
//   update <windows>\inf\sdbus.inf "<hardware id>"          the standard driver
//   update <windows>\inf\hxsdc\hxsdc....inf "<hardware id>"  the maker's driver
//
// Under the standard driver an SDIO card in the reader shows as a device on
// the SD bus; under the maker's driver there is no SD bus. After rebinding,
// the system announces the changed device tree, and the tool takes a while
// longer to end (as long as the test asks, for a switch to be caught under
// way). Anything else it is asked is logged and refused.
#include "e2e_fixture.h"

#include <cstring>
#include <string>

namespace {

using namespace winetest;

constexpr DWORD kFinishMs = 300;
constexpr DWORD kExitRefused = 1;
constexpr DWORD kExitNotRecorded = 2;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string windowsDirectory() {
    char path[MAX_PATH];
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

enum class Package { Standard, Maker, Unknown };

// Which package `update` names. The hardware identifier must be the
// controller's, as the real tool would find no device otherwise.
Package packageOf(const std::string& parameters) {
    const std::string windows = windowsDirectory();
    const std::string target = " \"pci\\ven_1b2c&dev_1234\"";
    if (windows.empty() || parameters.size() < target.size() ||
        parameters.compare(parameters.size() - target.size(), target.size(), target) != 0)
        return Package::Unknown;
    const std::string inf = parameters.substr(0, parameters.size() - target.size());
    if (inf == "update " + windows + "\\inf\\sdbus.inf")
        return Package::Standard;
    const std::string maker = "update " + windows + "\\inf\\hxsdc\\hxsdc";
    if (startsWith(inf, maker) && inf.size() > maker.size() + 4 && inf.compare(inf.size() - 4, 4, ".inf") == 0)
        return Package::Maker;
    return Package::Unknown;
}

} // namespace

int main() {
    long long startedAt = nowUs();
    const std::string commandLine = GetCommandLineA();
    const std::string parameters = commandTail(commandLine.c_str());
    DWORD switching = kValueAbsent;
    readDword(HKEY_LOCAL_MACHINE, kParametersKey, kValueIsSwitchingDrv, &switching);

    DWORD run = 0;
    readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsStarted, &run);
    ++run;
    const std::string log = e2e::runKey(run);
    bool recorded = setDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsStarted, run) &&
                    setString(HKEY_CURRENT_USER, log.c_str(), e2e::kRunParameters, parameters) &&
                    setString(HKEY_CURRENT_USER, log.c_str(), e2e::kRunCommandLine, commandLine) &&
                    setDword(HKEY_CURRENT_USER, log.c_str(), e2e::kRunSwitching, switching) &&
                    setQword(HKEY_CURRENT_USER, log.c_str(), e2e::kRunStartUs, startedAt);

    DWORD exitCode = 0;
    switch (packageOf(parameters)) {
    case Package::Standard: {
        e2e::describeController(kStandardDriverDescription);
        DWORD card = 0;
        readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kCardInserted, &card);
        if (card == 1)
            e2e::addSdioDevice();
        e2e::announceDeviceChange();
        break;
    }
    case Package::Maker:
        e2e::removeSdioDevice();
        e2e::describeController(kMakerDriverDescription);
        e2e::announceDeviceChange();
        break;
    case Package::Unknown:
        exitCode = kExitRefused;
        break;
    }
    DWORD holdMs = kFinishMs;
    readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kHoldMs, &holdMs);
    Sleep(holdMs);

    recorded = setQword(HKEY_CURRENT_USER, log.c_str(), e2e::kRunEndUs, nowUs()) && recorded;
    recorded = setDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsEnded, run) && recorded;
    return recorded ? static_cast<int>(exitCode) : static_cast<int>(kExitNotRecorded);
}
