// ddtool for Linux: the library on a simulated machine.
#include "ddtool.h"
#include "sim_host.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    ddtool::SimHost host(isatty(STDERR_FILENO));
    return ddtool::emit(ddtool::run(host, std::vector<std::string>(argv + 1, argv + argc)), stdout, stderr);
}
