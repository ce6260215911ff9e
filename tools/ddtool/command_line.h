// ddtool's command line: the options, the command and its arguments, checked
// before the library is touched. Whatever is wrong with it is told in one
// line, and the run ends with exit code 2.
#pragma once

#include "csd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ddtool {

enum class Command { None, Help, Version, SimHelp, Info, Csd, Mid, Mkb, SecureRead, ReadPt, SecureWrite, WritePt };

struct Invocation {
    Command command = Command::None;
    Command helpTopic = Command::None; // help COMMAND, COMMAND --help
    bool json = false;
    bool yes = false;
    bool force = false;             // replace an existing output FILE
    std::optional<std::string> sim; // --sim CARD
    std::optional<CsdBytes> csd;    // csd HEX
    std::uint8_t selector = 0;      // mkb
    std::uint32_t first = 0;        // mkb's first block index, read-pt's first block, write-pt's offset
    std::uint16_t count = 0;        // blocks to read
    std::string file;
};

// The largest block count a call takes: the exports count in 16 bits.
constexpr std::uint32_t kMaxBlocks = 0xFFFF;
constexpr std::uint32_t kBlockBytes = 512;
// FILE `-`: standard output for the blocks read, standard input for those written.
constexpr const char* kStandardStream = "-";

// Fills `invocation`, or answers false with the one line to print.
bool parseCommandLine(const std::vector<std::string>& args, Invocation& invocation, std::string& why);

// Whether the arguments ask for --json before any `--`: known even of a
// command line that is otherwise wrong, so its error can be an object too.
bool asksForJson(const std::vector<std::string>& args);

// write-pt: OFFSET and the FILE's `blocks` stay within the 32-bit sector
// addresses. False with the line to print.
bool offsetFits(const Invocation& invocation, std::size_t blocks, std::string& why);

// The command's name as typed.
const char* commandName(Command command);

// mkb, secure-read and read-pt read blocks into their FILE; secure-write and
// write-pt write their FILE's blocks to the card.
bool readsBlocks(Command command);
bool writesBlocks(Command command);

// The usage of ddtool, or of one command; --sim among the options only
// where the build `simulates` a card.
std::string usage(Command topic = Command::None, bool simulates = true);

} // namespace ddtool
