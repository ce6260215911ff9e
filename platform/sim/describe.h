// Formats a platform call's arguments for the call log.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>
#include <type_traits>

namespace sim {

inline void describeOne(std::ostringstream& out, const char* s) {
    if (s)
        out << '"' << s << '"';
    else
        out << "NULL";
}
inline void describeOne(std::ostringstream& out, char* s) { describeOne(out, static_cast<const char*>(s)); }

template <class T>
void describeOne(std::ostringstream& out, const T& v) {
    if constexpr (std::is_pointer_v<T>) {
        if (v)
            out << static_cast<const void*>(v);
        else
            out << "NULL";
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        out << "0x" << std::hex << static_cast<unsigned long long>(v) << std::dec;
    } else {
        out << v;
    }
}

template <class... T>
std::string describe(const T&... args) {
    std::ostringstream out;
    const char* sep = "";
    ((out << sep, describeOne(out, args), sep = ","), ...);
    return out.str();
}

} // namespace sim
