#include "ddtool.h"

#include "command_line.h"
#include "commands.h"
#include "csd_report.h"
#include "files.h"

#include <cerrno>
#include <cstring>

namespace ddtool {

const char* const kVersion = DDTOOL_VERSION;

namespace {

// The report on standard output, or on standard error while the blocks read
// go to standard output; the error line on standard error.
Outcome outcome(const Report& report, int code, bool blocksToOutput = false,
                const std::vector<std::uint8_t>* blocks = nullptr) {
    Outcome o;
    o.exitCode = code;
    (blocksToOutput ? o.err : o.out) = report.render();
    o.err += report.errorLine();
    if (blocks) {
        o.out.assign(blocks->begin(), blocks->end());
        o.binary = true;
    }
    return o;
}

Outcome refused(Report& report, int code, const std::string& why, bool blocksToOutput = false) {
    report.error(why);
    return outcome(report, code, blocksToOutput);
}

Outcome version(Host& host, Report& report) {
    report.text("version", std::string("ddtool ") + kVersion);
    std::string why;
    if (!host.open(why))
        return refused(report, kExitCallFailed, why);
    report.text("library", host.libraryVersion());
    return outcome(report, kExitDone);
}

bool runOnCard(Host& host, Session& session, Report& report, const Invocation& inv, std::vector<std::uint8_t>& data) {
    switch (inv.command) {
    case Command::Info:
        return info(session, report);
    case Command::Csd:
        return cardCsd(session, report);
    case Command::Mid:
        return mediaId(session, report);
    default:
        return readsBlocks(inv.command) ? readBlocksFromCard(host, session, report, inv, data)
                                        : writeBlocksToCard(host, session, report, inv, data);
    }
}

// Everything a command needs from files is had, or found wanting, before
// the card is touched; only a read's own FILE is completed after it.
Outcome cardCommand(Host& host, const Invocation& inv, Report& report) {
    const std::string name = commandName(inv.command);
    const bool toOutput = readsBlocks(inv.command) && inv.file == kStandardStream;
    std::string why;
    std::vector<std::uint8_t> data;
    OutputFile output;
    if (writesBlocks(inv.command)) {
        if (!readBlocks(inv.file, host.standardInput(), data, why))
            return refused(report, kExitFile, name + ": " + why);
        if (inv.command == Command::WritePt && !offsetFits(inv, data.size() / kBlockBytes, why))
            return refused(report, kExitUsage, why);
    }
    if (readsBlocks(inv.command) && !toOutput && !output.prepare(inv.file, inv.force, why))
        return refused(report, kExitFile, name + ": " + why);
    const Library* library = host.open(why);
    if (!library)
        return refused(report, kExitCallFailed, why, toOutput);
    bool ok = false;
    {
        Session session(*library, report);
        ok = runOnCard(host, session, report, inv, data);
    }
    if (!ok)
        return outcome(report, kExitCallFailed, toOutput);
    if (readsBlocks(inv.command) && !toOutput && !output.commit(data, why))
        return refused(report, kExitFile, name + ": " + why);
    return outcome(report, kExitDone, toOutput, toOutput ? &data : nullptr);
}

} // namespace

Outcome run(Host& host, const std::vector<std::string>& args) {
    Invocation inv;
    std::string why;
    Report report(asksForJson(args));
    const bool parsed = parseCommandLine(args, inv, why);
    if (inv.command != Command::None)
        report.command(commandName(inv.command));
    if (!parsed)
        return refused(report, kExitUsage, why);
    switch (inv.command) {
    case Command::Help:
        report.block("usage", usage(inv.helpTopic, !host.simUsage().empty()));
        return outcome(report, kExitDone);
    case Command::SimHelp:
        if (host.simUsage().empty())
            return refused(report, kExitUsage,
                           "--sim: this build asks the card in the reader; only the Linux "
                           "build simulates one");
        report.block("usage", host.simUsage());
        return outcome(report, kExitDone);
    case Command::Version:
        return version(host, report);
    default:
        break;
    }
    if (!host.describeCard(inv.sim, why))
        return refused(report, kExitUsage, why);
    if (inv.command == Command::Csd && inv.csd) {
        // A register given whole needs no card and no library.
        reportCsd(report, decodeCsd(*inv.csd));
        return outcome(report, kExitDone);
    }
    return cardCommand(host, inv, report);
}

int emit(const Outcome& o, std::FILE* out, std::FILE* err) {
    int code = o.exitCode;
    std::string errText = o.err;
    if (std::fwrite(o.out.data(), 1, o.out.size(), out) != o.out.size() || std::fflush(out) != 0) {
        errText += std::string("ddtool: cannot write standard output: ") + std::strerror(errno) + "\n";
        code = code == kExitDone ? kExitFile : code;
    }
    std::fputs(errText.c_str(), err);
    std::fflush(err);
    return code;
}

} // namespace ddtool
