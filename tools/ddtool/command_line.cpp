#include "command_line.h"

#include "command_table.h"
#include "numbers.h"

namespace ddtool {

namespace {

constexpr std::uint64_t kMaxSelector = 0xFF;
constexpr std::uint64_t kMaxAddress = 0xFFFFFFFF;
// How many blocks each numbering holds: the key block's index is 16-bit, a
// block or sector address 32-bit. The library refuses a range past the end;
// ddtool refuses it first, as a bad command line.
constexpr std::uint64_t kKeyBlockIndexes = 0x10000;
constexpr std::uint64_t kBlockAddresses = 0x100000000;
constexpr const char* kEndOfOptions = "--";
// Help as every Windows command takes it, in either build.
constexpr const char* kWindowsHelp = "/?";

// One operand as a number in range, or the reason it is not.
bool number(const std::string& what, const std::string& text, std::uint64_t min, std::uint64_t max,
            std::uint64_t& value, std::string& why) {
    auto n = parseNumber(text, max);
    if (!n || *n < min) {
        why = what + " '" + text + "' is not a number from " + std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    value = *n;
    return true;
}

bool count(const std::string& text, std::uint16_t& blocks, std::string& why) {
    std::uint64_t n = 0;
    if (!number("COUNT", text, 1, kMaxBlocks, n, why))
        return false;
    blocks = static_cast<std::uint16_t>(n);
    return true;
}

// `first` and `blocks` after it within a numbering of `size` blocks, whose
// last one is called `last`.
bool fits(const std::string& what, std::uint64_t first, std::uint64_t blocks, std::uint64_t size, const char* last,
          std::string& why) {
    if (first + blocks <= size)
        return true;
    why = what + " go past the " + last + ", " + std::to_string(size - 1);
    return false;
}

bool csdOperand(const std::string& text, CsdBytes& csd, std::string& why) {
    std::vector<std::uint8_t> bytes;
    if (!parseHexBytes(text, bytes, why)) {
        why = "HEX: " + why;
        return false;
    }
    if (bytes.size() != kCsdBytes) {
        why = "HEX: " + std::to_string(bytes.size() * 2) + " hex digits; a CSD register has 32";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), csd.begin());
    // Its fields cannot be read: no version of the register has this layout.
    if (decodeCsd(csd).structure > csd::kVersion3) {
        why = "HEX: CSD_STRUCTURE 3 is reserved; no version of the register can be read from it";
        return false;
    }
    return true;
}

bool operands(Invocation& inv, const std::vector<std::string>& o, std::string& why) {
    std::uint64_t n = 0;
    switch (inv.command) {
    case Command::Csd:
        if (!o.empty()) {
            inv.csd.emplace();
            return csdOperand(o[0], *inv.csd, why);
        }
        return true;
    case Command::Mkb:
        if (!number("SELECTOR", o[0], 0, kMaxSelector, n, why))
            return false;
        inv.selector = static_cast<std::uint8_t>(n);
        if (!number("FIRST", o[1], 0, kKeyBlockIndexes - 1, n, why))
            return false;
        inv.first = static_cast<std::uint32_t>(n);
        inv.file = o[3];
        return count(o[2], inv.count, why) && fits("FIRST " + o[1] + " and COUNT " + o[2], inv.first, inv.count,
                                                   kKeyBlockIndexes, "last key block index", why);
    case Command::SecureRead:
        inv.file = o[1];
        return count(o[0], inv.count, why);
    case Command::ReadPt:
        if (!number("FIRST", o[0], 0, kMaxAddress, n, why))
            return false;
        inv.first = static_cast<std::uint32_t>(n);
        inv.file = o[2];
        return count(o[1], inv.count, why) && fits("FIRST " + o[0] + " and COUNT " + o[1], inv.first, inv.count,
                                                   kBlockAddresses, "last block address", why);
    case Command::SecureWrite:
        inv.file = o[0];
        return true;
    case Command::WritePt:
        if (!number("OFFSET", o[0], 0, kMaxAddress, n, why))
            return false;
        inv.first = static_cast<std::uint32_t>(n);
        inv.file = o[1];
        return true;
    default:
        return true;
    }
}

// The words after the options: a command and its operands, or help and its topic.
bool command(Invocation& inv, const std::vector<std::string>& words, bool help, std::string& why) {
    if (inv.sim == "help") {
        inv.command = Command::SimHelp;
        return true;
    }
    if (words.empty()) {
        if (help && inv.command == Command::None)
            inv.command = Command::Help;
        if (inv.command == Command::None)
            why = "no command given (ddtool --help lists the commands)";
        return why.empty();
    }
    const bool helpWord = words[0] == "help";
    if (helpWord && words.size() > 2) {
        why = "help takes [COMMAND]";
        return false;
    }
    const std::string& name = helpWord ? (words.size() > 1 ? words[1] : std::string()) : words[0];
    const CommandInfo* c = findCommand(name);
    if (!c && !name.empty()) {
        why = "unknown command '" + name + "' (ddtool --help lists the commands)";
        return false;
    }
    if (inv.command == Command::Version)
        return true;
    if (help || helpWord) {
        inv.command = Command::Help;
        inv.helpTopic = c ? c->command : Command::None;
        return true;
    }
    inv.command = c->command;
    const std::vector<std::string> o(words.begin() + 1, words.end());
    if (o.size() < c->minOperands || o.size() > c->maxOperands) {
        why = std::string(c->name) + (c->maxOperands ? std::string(" takes ") + c->operands : " takes no arguments");
        return false;
    }
    if (!operands(inv, o, why)) {
        why = std::string(c->name) + ": " + why;
        return false;
    }
    if (writesBlocks(inv.command) && !inv.yes) {
        why = std::string(c->name) + " writes to the card: add --yes to go ahead";
        return false;
    }
    if (readsBlocks(inv.command) && inv.json && inv.file == kStandardStream) {
        why = std::string(c->name) + ": FILE - and --json would both use standard output";
        return false;
    }
    return true;
}

} // namespace

bool readsBlocks(Command c) {
    return c == Command::Mkb || c == Command::SecureRead || c == Command::ReadPt;
}

bool writesBlocks(Command c) {
    return c == Command::SecureWrite || c == Command::WritePt;
}

const char* commandName(Command command) {
    if (const CommandInfo* c = findCommand(command))
        return c->name;
    return command == Command::Version ? "version" : "help";
}

bool asksForJson(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == kEndOfOptions)
            return false;
        if (a == "--json")
            return true;
    }
    return false;
}

bool offsetFits(const Invocation& inv, std::size_t blocks, std::string& why) {
    if (fits("OFFSET " + std::to_string(inv.first) + " and FILE's " + std::to_string(blocks) + " blocks", inv.first,
             blocks, kBlockAddresses, "last sector address", why))
        return true;
    why = std::string(commandName(inv.command)) + ": " + why;
    return false;
}

bool parseCommandLine(const std::vector<std::string>& args, Invocation& inv, std::string& why) {
    std::vector<std::string> words;
    bool help = false, options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == kWindowsHelp) {
            help = true;
        } else if (!options || a == kStandardStream || a.empty() || a[0] != '-') {
            words.push_back(a);
        } else if (a == kEndOfOptions) {
            options = false;
        } else if (a == "--json") {
            inv.json = true;
        } else if (a == "--yes") {
            inv.yes = true;
        } else if (a == "--force") {
            inv.force = true;
        } else if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version" || a == "-V") {
            inv.command = Command::Version;
        } else if (a == "--sim" || a.rfind("--sim=", 0) == 0) {
            if (a == "--sim" && i + 1 == args.size()) {
                why = "--sim needs a CARD";
                return false;
            }
            if (inv.sim) {
                why = "--sim given twice";
                return false;
            }
            inv.sim = a == "--sim" ? args[++i] : a.substr(6);
        } else {
            why = "unknown option '" + a + "' (ddtool --help lists the options; -- ends them)";
            return false;
        }
    }
    return command(inv, words, help, why);
}

} // namespace ddtool
