// ddtool's commands as the user meets them: name, operands and what each
// does to files, to the card and to the exit code, for the parser and for
// the help texts alike.
#pragma once

#include "command_line.h"

#include <cstddef>
#include <string>

namespace ddtool {

struct CommandInfo {
    const char* name;
    Command command;
    const char* operands; // as the usage names them
    std::size_t minOperands, maxOperands;
    const char* summary; // one line of the command list
    const char* details; // `ddtool help COMMAND`
};

// The command typed as `name`, or null.
const CommandInfo* findCommand(const std::string& name);
const CommandInfo* findCommand(Command command);

} // namespace ddtool
