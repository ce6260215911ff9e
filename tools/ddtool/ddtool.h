// ddtool: a command-line front end to Ferrocard. One run: the command line
// checked, the library reached through the host, one command, its report.
#pragma once

#include "host.h"

#include <cstdio>
#include <string>
#include <vector>

namespace ddtool {

constexpr int kExitDone = 0;
constexpr int kExitCallFailed = 1; // the library could not be loaded, or one of its calls failed
constexpr int kExitUsage = 2;      // a bad command line
constexpr int kExitFile = 3;       // a file could not be read or written

// ddtool's own version, the project's.
extern const char* const kVersion;

struct Outcome {
    int exitCode = kExitDone;
    std::string out;     // for standard output: the report, or the blocks read for FILE -
    std::string err;     // for standard error
    bool binary = false; // `out` holds blocks
};

// `args` without the program's name.
Outcome run(Host& host, const std::vector<std::string>& args);

// Writes the outcome to the two streams; the exit code, 3 when standard
// output could not take the blocks or the report.
int emit(const Outcome& outcome, std::FILE* out, std::FILE* err);

} // namespace ddtool
