// Stands in for the device-console tool under Wine. The tests install it as
// C:\windows\inf\hxsdc\devconx64.exe; it reports what the service passed it
// and the IsSwitchingDrv value the service had written for the run, then
// takes a while to end, as the real tool does, and only then reports that it
// ended: a caller that did not wait finds no report.
#include "service/parameters.h"
#include "wine_support.h"

namespace {

constexpr DWORD kRunMs = 300;

} // namespace

int main() {
    using namespace winetest;
    const char* tail = commandTail(GetCommandLineA());
    DWORD switching = kValueAbsent;
    readDword(HKEY_LOCAL_MACHINE, kParametersKey, kValueIsSwitchingDrv, &switching);
    Sleep(kRunMs);
    DWORD runs = 0;
    readDword(HKEY_CURRENT_USER, kProbeKey, kProbeDevconRuns, &runs);
    bool reported = setString(HKEY_CURRENT_USER, kProbeKey, kProbeDevconTail, tail) &&
                    setDword(HKEY_CURRENT_USER, kProbeKey, kProbeDevconSwitching, switching) &&
                    setDword(HKEY_CURRENT_USER, kProbeKey, kProbeDevconRuns, runs + 1);
    return reported ? 0 : 1;
}
