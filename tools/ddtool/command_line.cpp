#include "command_line.h"

#include "numbers.h"

#include <cstring>

namespace ddtool {

namespace {

const struct {
    const char* name;
    Command command;
    const char* operands; // as the usage names them
    std::size_t minOperands, maxOperands;
} kCommands[] = {
    {"info", Command::Info, "", 0, 0},
    {"csd", Command::Csd, "[HEX]", 0, 1},
    {"mid", Command::Mid, "", 0, 0},
    {"mkb", Command::Mkb, "SELECTOR FIRST COUNT FILE", 4, 4},
    {"secure-read", Command::SecureRead, "COUNT FILE", 2, 2},
    {"read-pt", Command::ReadPt, "FIRST COUNT FILE", 3, 3},
    {"secure-write", Command::SecureWrite, "FILE", 1, 1},
    {"write-pt", Command::WritePt, "OFFSET FILE", 2, 2},
};

constexpr std::uint64_t kMaxSelector = 0xFF;
constexpr std::uint64_t kMaxBlockIndex = 0xFFFF;
constexpr std::uint64_t kMaxAddress = 0xFFFFFFFF;

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
        if (!number("FIRST", o[1], 0, kMaxBlockIndex, n, why))
            return false;
        inv.first = static_cast<std::uint32_t>(n);
        inv.file = o[3];
        return count(o[2], inv.count, why);
    case Command::SecureRead:
        inv.file = o[1];
        return count(o[0], inv.count, why);
    case Command::ReadPt:
        if (!number("FIRST", o[0], 0, kMaxAddress, n, why))
            return false;
        inv.first = static_cast<std::uint32_t>(n);
        inv.file = o[2];
        return count(o[1], inv.count, why);
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

} // namespace

bool readsBlocks(Command c) {
    return c == Command::Mkb || c == Command::SecureRead || c == Command::ReadPt;
}

bool writesBlocks(Command c) {
    return c == Command::SecureWrite || c == Command::WritePt;
}

const char* const kUsage =
    "usage: ddtool [--json] [--yes] [--sim CARD] COMMAND [ARGUMENTS]\n"
    "Asks the card in Halvex's SD/MMC reader, through Ferrocard, what the library sees.\n"
    "\n"
    "commands:\n"
    "  info                       DDSysInit, DDSysDrive, DDChkSDCard, DDIdentify, DDSecureIdentify\n"
    "  csd [HEX]                  the CSD register field by field: the card's, as far as the library\n"
    "                             reports it, or every field of the 32 hex digits given\n"
    "  mid                        the media identifier (DDGetMID)\n"
    "  mkb SELECTOR FIRST COUNT FILE\n"
    "                             COUNT blocks of media key block SELECTOR from block FIRST (DDReadMKB)\n"
    "  secure-read COUNT FILE     COUNT blocks of the secure area (DDSecureRead)\n"
    "  read-pt FIRST COUNT FILE   COUNT blocks of the protected area from block FIRST (DDReadPT)\n"
    "  secure-write FILE          FILE to the secure area (DDSecureWrite); needs --yes\n"
    "  write-pt OFFSET FILE       FILE to the card's drive from sector OFFSET (DDWritePT); needs --yes\n"
    "\n"
    "Blocks are 512 bytes; COUNT is 1 to 65535, and a FILE to write holds whole blocks, at most 65535.\n"
    "Numbers are decimal or 0x-prefixed hexadecimal.\n"
    "\n"
    "options:\n"
    "  --json      one JSON object with the same keys instead of lines\n"
    "  --yes       go ahead with a write to the card\n"
    "  --sim CARD  (Linux build) the simulated card: comma-separated csd=HEX, hc=0|1, wp=0|1,\n"
    "              letter=X, geometry=C/T/S, lastlba=N, mid=HEX, fail=CODE (repeatable)\n"
    "\n"
    "exit codes: 0 done, 1 a library call failed, 2 a bad command line\n";

const char* commandName(Command command) {
    for (const auto& c : kCommands)
        if (c.command == command)
            return c.name;
    return "help";
}

bool parseCommandLine(const std::vector<std::string>& args, Invocation& inv, std::string& why) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            inv.json = true;
        } else if (a == "--yes") {
            inv.yes = true;
        } else if (a == "--help" || a == "-h") {
            inv.command = Command::Help;
            return true;
        } else if (a == "--sim" || a.rfind("--sim=", 0) == 0) {
            if (a == "--sim" && i + 1 == args.size()) {
                why = "--sim needs a CARD";
                return false;
            }
            inv.sim = a == "--sim" ? args[++i] : a.substr(6);
        } else if (a.size() > 1 && a[0] == '-') {
            // No operand begins with '-': numbers are unsigned, HEX is digits.
            why = "unknown option '" + a + "' (ddtool --help lists the options)";
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        why = "no command given (ddtool --help lists the commands)";
        return false;
    }
    for (const auto& c : kCommands) {
        if (words[0] != c.name)
            continue;
        inv.command = c.command;
        const std::vector<std::string> o(words.begin() + 1, words.end());
        if (o.size() < c.minOperands || o.size() > c.maxOperands) {
            why = std::string(c.name) + (c.maxOperands ? std::string(" takes ") + c.operands : " takes no arguments");
            return false;
        }
        if (!operands(inv, o, why)) {
            why = std::string(c.name) + ": " + why;
            return false;
        }
        if (writesBlocks(inv.command) && !inv.yes) {
            why = std::string(c.name) + " writes to the card: add --yes to go ahead";
            return false;
        }
        return true;
    }
    why = "unknown command '" + words[0] + "' (ddtool --help lists the commands)";
    return false;
}

} // namespace ddtool
