// A Windows error as ddtool prints it: the system's text for it and its
// number, "Access is denied (error 5)".
#pragma once

#include <string>

namespace ddtool {

// `error` is a Win32 error code (GetLastError's).
std::string windowsError(unsigned long error);

} // namespace ddtool
