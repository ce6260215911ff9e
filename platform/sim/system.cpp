#include "platform/sim/system.h"

#include <stdexcept>

namespace sim {

SystemConfig SystemConfig::named(const std::string& name) {
    SystemConfig c;
    auto dash = name.find('-');
    std::string version = name.substr(0, dash);
    std::string rest = dash == std::string::npos ? "" : name.substr(dash + 1);
    if (version == "2000") {
        c.majorVersion = 5, c.minorVersion = 0, c.buildNumber = 2195, c.hasGetNativeSystemInfo = false;
    } else if (version == "xp") {
        c.majorVersion = 5, c.minorVersion = 1, c.buildNumber = 2600;
    } else if (version == "2003") {
        c.majorVersion = 5, c.minorVersion = 2, c.buildNumber = 3790;
    } else if (version == "vista") {
        c.majorVersion = 6, c.minorVersion = 0, c.buildNumber = 6002;
    } else if (version == "7") {
        c.majorVersion = 6, c.minorVersion = 1, c.buildNumber = 7601;
    } else if (version == "8") {
        c.majorVersion = 6, c.minorVersion = 2, c.buildNumber = 9200;
    } else {
        throw std::invalid_argument("unknown system " + name);
    }
    c.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    if (rest.rfind("x64", 0) == 0)
        c.nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    else if (rest.rfind("ia64", 0) == 0)
        c.nativeArchitecture = PROCESSOR_ARCHITECTURE_IA64;
    c.wow64Process = rest.find("wow64") != std::string::npos;
    return c;
}

HMODULE programModule() {
    // Where a 32-bit loader places a program; only its identity matters.
    return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x00400000));
}

} // namespace sim
