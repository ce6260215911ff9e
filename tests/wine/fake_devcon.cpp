// Stands in for the device-console tool under Wine. The tests install it as
// C:\windows\inf\hxsdc\devconx64.exe; it reports what the service passed it
// and the IsSwitchingDrv value the service had written for the run, then
// takes a while to end, as the real tool does, and only then reports that it
// ended: a caller that did not wait finds no report.
#include "service/parameters.h"
#include "wine_support.h"

namespace {

constexpr DWORD kRunMs = 300;

// The command line after the program's own path, as the program's C runtime
// would split it off: a quoted path ends at its closing quote, a bare one at
// the first blank.
const char* commandTail(const char* line) {
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

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
