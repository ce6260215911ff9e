// Reads a program's resource script (.rc) into the simulated machine, so that
// the Windows build and the simulation share one source of truth for the
// program's dialogs, menus, strings and icons.
#pragma once

#include "platform/sim/machine.h"

#include <string>

namespace sim {

// Loads the resources of the script at `path`: dialogs (with their controls),
// menus, the string table, and which icons exist; version blocks are skipped.
// Symbolic identifiers come from the "#define"s of the script and of the
// headers it includes from its own folder. Throws std::runtime_error on
// anything it cannot read.
void loadResourceScript(Machine& machine, const std::string& path);

} // namespace sim
