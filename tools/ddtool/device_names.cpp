#include "device_names.h"

namespace ddtool {

namespace {

constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL"};
constexpr const char* kNumberedDevices[] = {"COM", "LPT"};
// Windows also reads the superscript digits of its Western code page as the
// port's number.
constexpr struct { char superscript, digit; } kSuperscripts[] = {{'\xB9', '1'}, {'\xB2', '2'}, {'\xB3', '3'}};

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string windowsDeviceName(const std::string& path) {
    // The last part: after the last slash of either kind, or a drive's colon.
    std::size_t start = path.find_last_of("\\/");
    start = start == std::string::npos ? (path.size() >= 2 && path[1] == ':' ? 2 : 0) : start + 1;
    // Up to its extension or a stream's colon, without the spaces Windows
    // drops there ("nul .txt" is NUL too).
    const std::size_t end = path.find_first_of(".:", start);
    std::string stem = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = upper(c);
    for (const char* device : kDevices)
        if (stem == device)
            return stem;
    for (const char* prefix : kNumberedDevices) {
        if (stem.size() != 4 || stem.compare(0, 3, prefix) != 0)
            continue;
        if (stem[3] >= '1' && stem[3] <= '9')
            return stem;
        for (const auto& s : kSuperscripts)
            if (stem[3] == s.superscript)
                return std::string(prefix) + s.digit;
    }
    return "";
}

} // namespace ddtool
