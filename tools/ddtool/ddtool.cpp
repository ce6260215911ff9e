#include "ddtool.h"

#include "command_line.h"
#include "commands.h"
#include "csd_report.h"
#include "files.h"

namespace ddtool {

namespace {

Outcome refused(int code, const std::string& why) {
    return {code, "", "ddtool: " + why + "\n"};
}

} // namespace

Outcome run(Host& host, const std::vector<std::string>& args) {
    Invocation inv;
    std::string why;
    if (!parseCommandLine(args, inv, why))
        return refused(kExitUsage, why);
    if (inv.command == Command::Help)
        return {kExitDone, kUsage, ""};
    if (!host.describeCard(inv.sim, why))
        return refused(kExitUsage, why);
    std::vector<std::uint8_t> data;
    if (writesBlocks(inv.command) && !readBlocks(inv.file, data, why))
        return refused(kExitUsage, std::string(commandName(inv.command)) + ": " + why);

    Report report(inv.json);
    report.command(commandName(inv.command));
    if (inv.command == Command::Csd && inv.csd) {
        // A register given whole needs no card and no library.
        reportCsd(report, decodeCsd(*inv.csd));
        return {kExitDone, report.render(), ""};
    }
    const Library* library = host.open(why);
    if (!library)
        return refused(kExitCallFailed, why);

    bool ok = false;
    {
        Session session(*library, report);
        switch (inv.command) {
        case Command::Info:
            ok = info(session, report);
            break;
        case Command::Csd:
            ok = cardCsd(session, report);
            break;
        case Command::Mid:
            ok = mediaId(session, report);
            break;
        default:
            ok = readsBlocks(inv.command) ? readBlocksFromCard(host, session, report, inv, data)
                                          : writeBlocksToCard(host, session, report, inv, data);
        }
    }
    if (ok && readsBlocks(inv.command) && !writeFile(inv.file, data, why))
        return refused(kExitCallFailed, std::string(commandName(inv.command)) + ": " + why);
    return {ok ? kExitDone : kExitCallFailed, report.render(), ""};
}

} // namespace ddtool
