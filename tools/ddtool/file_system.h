// What the two builds do differently with files: POSIX calls on Linux, Win32
// calls on Windows (file_system_posix.cpp, file_system_win.cpp).
#pragma once

#include <string>

namespace ddtool::fs {

enum class Kind { Missing, File, Link, Other }; // Other: a folder, a device, or what cannot be told

// What is at `path`, without following a link (or, on Windows, a junction).
Kind kindOf(const std::string& path);

// A new empty file in the folder of `path`, named after it and no other
// file's name: its path in `temp`. False with a one-line reason.
bool createBeside(const std::string& path, std::string& temp, std::string& why);

// `from` renamed to `to`; a file at `to` is replaced only when `replace`
// says so, even one that appeared since it was looked at.
bool moveOver(const std::string& from, const std::string& to, bool replace, std::string& why);

// While `path` is not empty, an interrupt (Ctrl-C, a request to end) removes
// it before the process ends as it would have.
void removeOnInterrupt(const std::string& path);

} // namespace ddtool::fs
