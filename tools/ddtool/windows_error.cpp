#include "windows_error.h"

#include <windows.h>

namespace ddtool {

std::string windowsError(unsigned long error) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    // One line: without the line end and the full stop the system's texts end with.
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        --n;
    const std::string number = "error " + std::to_string(error);
    return n ? std::string(text, n) + " (" + number + ")" : number;
}

} // namespace ddtool
