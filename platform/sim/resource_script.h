// Reads a program's resource script (.rc) into the simulated machine, so that
// the Windows build and the simulation share one source of truth for the
// program's dialogs.
#pragma once

#include "platform/sim/machine.h"

#include <string>

namespace sim {

// Loads the dialogs of the resource script at `path`; symbolic identifiers
// come from the "#define"s of the headers it includes from its own folder.
// Throws std::runtime_error on anything it cannot read.
void loadResourceScript(Machine& machine, const std::string& path);

} // namespace sim
