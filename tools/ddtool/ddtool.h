// ddtool: a command-line front end to Ferrocard. One run: the command line
// checked, the library reached through the host, one command, its report.
#pragma once

#include "host.h"

#include <string>
#include <vector>

namespace ddtool {

constexpr int kExitDone = 0;
constexpr int kExitCallFailed = 1; // a library call failed, or the library or a file could not be had
constexpr int kExitUsage = 2;      // a bad command line

struct Outcome {
    int exitCode = kExitDone;
    std::string out; // for standard output
    std::string err; // for standard error
};

// `args` without the program's name.
Outcome run(Host& host, const std::vector<std::string>& args);

} // namespace ddtool
