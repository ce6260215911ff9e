// Windows' device names. A file name whose part before the first dot is
// CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9, in any case and in any
// folder, opens that device instead of a file: `nul.bin` is the null device,
// `COM1.txt` the serial port.
#pragma once

#include <string>

namespace ddtool {

// The device `path`'s last part names on Windows ("NUL" for C:\x\nul.bin),
// or empty.
std::string windowsDeviceName(const std::string& path);

} // namespace ddtool
