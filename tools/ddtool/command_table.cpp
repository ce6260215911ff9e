#include "command_table.h"

namespace ddtool {

namespace {

constexpr const char* kReadsIntoFile =
    "FILE is made (or, with --force, replaced) only once every block has arrived; with FILE -\n"
    "the blocks go to standard output and the report to standard error. Nothing is written to\n"
    "the card.\n";

constexpr const char* kWritesFromFile =
    "Only with --yes. FILE holds 1 to 65535 whole blocks of 512 bytes and is not changed; with\n"
    "FILE - the blocks come from standard input.\n";

const CommandInfo kCommands[] = {
    {"info", Command::Info, "", 0, 0, "DDSysInit, DDSysDrive, DDChkSDCard, DDIdentify, DDSecureIdentify",
     "Asks the card in the reader: DDSysInit, DDSysDrive, DDChkSDCard, DDIdentify (its eleven values\n"
     "under their parameter names) and DDSecureIdentify. A value the library cuts to 16 bits says\n"
     "so beside it. Reads no block and writes nothing, to the card or to a file.\n"},
    {"csd", Command::Csd, "[HEX]", 0, 1, "the CSD register field by field",
     "Without HEX: the fields of the card's CSD register that the library reports (through\n"
     "DDChkSDCard and DDIdentify) and the capacity. With HEX, a register's 32 hex digits: every\n"
     "field under its SD Physical Layer name, reserved values named, a warning beside each field\n"
     "a version 2.0 register fixes, the capacity and whether the CRC holds; needs no card and no\n"
     "library. CSD_STRUCTURE 3 is reserved and refused (exit code 2). Writes nothing.\n"},
    {"mid", Command::Mid, "", 0, 0, "the media identifier (DDGetMID)",
     "DDSysInit, then DDGetMID: the card's media identifier, 16 hex digits. Writes nothing.\n"},
    {"mkb", Command::Mkb, "SELECTOR FIRST COUNT FILE", 4, 4,
     "COUNT blocks of media key block SELECTOR from block FIRST (DDReadMKB)",
     "COUNT blocks of media key block SELECTOR (0 to 255) from block index FIRST, into FILE\n"
     "(DDReadMKB). FIRST + COUNT stays within the 65536 block indexes.\n"},
    {"secure-read", Command::SecureRead, "COUNT FILE", 2, 2, "COUNT blocks of the secure area (DDSecureRead)",
     "COUNT blocks from the start of the card's secure area, into FILE (DDSecureRead).\n"},
    {"read-pt", Command::ReadPt, "FIRST COUNT FILE", 3, 3,
     "COUNT blocks of the protected area from block FIRST (DDReadPT)",
     "COUNT blocks of the protected area from block FIRST, into FILE (DDReadPT). FIRST + COUNT\n"
     "stays within the 2^32 block addresses.\n"},
    {"secure-write", Command::SecureWrite, "FILE", 1, 1, "FILE to the secure area (DDSecureWrite); needs --yes",
     "FILE's blocks to the start of the card's secure area, replacing what it held there\n"
     "(DDSecureWrite).\n"},
    {"write-pt", Command::WritePt, "OFFSET FILE", 2, 2,
     "FILE to the card's drive from sector OFFSET (DDWritePT); needs --yes",
     "FILE's blocks to the card's drive from sector OFFSET, replacing those sectors (DDWritePT).\n"
     "OFFSET plus FILE's blocks stays within the 2^32 sector addresses.\n"},
};

constexpr const char* kExitCodes =
    "exit codes: 0 done; 1 the library could not be loaded or one of its calls failed (its status\n"
    "and meaning on standard error); 2 a bad command line; 3 a file could not be read or written.\n"
    "A bad command line or FILE is found before the card is touched. Every error goes to\n"
    "standard error; with --json, standard output holds one JSON object, also on failure.\n";

std::string commandLine(const CommandInfo& c) {
    return c.name + std::string(*c.operands ? " " : "") + c.operands;
}

} // namespace

const CommandInfo* findCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

const CommandInfo* findCommand(Command command) {
    for (const auto& c : kCommands)
        if (command == c.command)
            return &c;
    return nullptr;
}

std::string usage(Command topic, bool simulates) {
    if (const CommandInfo* c = findCommand(topic)) {
        std::string text = "usage: ddtool [OPTIONS] " + commandLine(*c) + "\n" + c->details;
        if (readsBlocks(topic))
            text += kReadsIntoFile;
        if (writesBlocks(topic))
            text += kWritesFromFile;
        return text + "\n" + kExitCodes;
    }
    std::string text = "usage: ddtool [OPTIONS] COMMAND [ARGUMENTS]\n"
                       "       ddtool help [COMMAND], ddtool COMMAND --help, ddtool --version\n"
                       "Asks the card in Halvex's SD/MMC reader, through Ferrocard, what the library sees.\n"
                       "\n"
                       "commands:\n";
    for (const auto& c : kCommands) {
        const std::string line = commandLine(c);
        text += "  " + line + (line.size() < 27 ? std::string(27 - line.size(), ' ') : "\n" + std::string(29, ' ')) +
                c.summary + "\n";
    }
    return text +
           "\n"
           "Blocks are 512 bytes; COUNT is 1 to 65535, and a FILE to write holds whole blocks, at most 65535.\n"
           "Numbers are decimal or 0x-prefixed hexadecimal.\n"
           "\n"
           "files: a command that reads blocks checks FILE's folder before it touches the card, puts the\n"
           "blocks in a temporary file there and gives it FILE's name only when every block arrived, so a\n"
           "failed or interrupted read leaves no partial file and FILE as it was. An existing FILE is\n"
           "replaced only with --force, and keeps its permissions; a link, a folder or a device is never\n"
           "replaced, nor a FILE in a folder given as a link. On Windows a device's name (CON, PRN, AUX,\n"
           "NUL, COM1 to COM9, LPT1 to LPT9, with any extension) is no FILE. FILE - is standard output\n"
           "for the blocks read (the report then goes to standard error), standard input for the blocks\n"
           "to write.\n"
           "\n"
           "options:\n"
           "  --json         one JSON object on standard output with the keys of the lines\n"
           "  --yes          go ahead with a write to the card\n"
           "  --force        replace an existing output FILE\n" +
           std::string(simulates
                           ? "  --sim CARD     (Linux build) the simulated card; ddtool --sim help lists its keys\n"
                           : "") +
           "  --version, -V  the versions of ddtool and of the library it loads\n"
           "  --help, -h, /? this text; after a command, that command's\n"
           "  --             the end of the options: what follows is the command and its arguments\n"
           "\n" +
           kExitCodes;
}

} // namespace ddtool
