// The block transfers: media key block, secure area and protected area reads,
// and the two writes.
#include "commands.h"

#include "progress.h"

#include <algorithm>

namespace ddtool {

namespace {

// Reads that the library carries out a block per request anyway are made a
// chunk per call, so that progress can be shown between calls without
// changing what reaches the card.
constexpr std::uint32_t kChunkBlocks = 256;

void blocks(Report& r, const Invocation& inv, std::size_t bytes) {
    r.number("blocks", bytes / kBlockBytes);
    r.number("bytes", bytes);
    r.text("file", inv.file);
}

} // namespace

bool readBlocksFromCard(Host& host, Session& s, Report& r, const Invocation& inv, std::vector<std::uint8_t>& data) {
    const Library& lib = s.library();
    const char* step = commandName(inv.command);
    data.assign(static_cast<std::size_t>(inv.count) * kBlockBytes, 0);
    if (!s.init(false))
        return false;
    Progress progress(host, step, inv.count);
    if (inv.command == Command::SecureRead) {
        // One pair of commands from the start of the area: nothing to split.
        if (!s.check(step, lib.secureRead(data.data(), inv.count)))
            return false;
        host.betweenCalls();
        progress.update(inv.count);
    } else {
        for (std::uint32_t done = 0; done < inv.count; done += kChunkBlocks) {
            const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(kChunkBlocks, inv.count - done));
            std::uint8_t* at = data.data() + static_cast<std::size_t>(done) * kBlockBytes;
            // The command line keeps first + count within the key block's 16-bit
            // indexes, so the cast never wraps.
            const std::uint32_t status =
                inv.command == Command::Mkb
                    ? lib.readMkb(at, n, inv.selector, static_cast<std::uint16_t>(inv.first + done))
                    : lib.readPt(at, n, inv.first + done);
            if (!s.check(step, status))
                return false;
            host.betweenCalls();
            progress.update(done + n);
        }
    }
    if (inv.command == Command::Mkb)
        r.number("selector", inv.selector);
    if (inv.command != Command::SecureRead)
        r.number("first", inv.first);
    blocks(r, inv, data.size());
    return true;
}

// A write needs the drive found and the card checked: the library refuses
// every write until a card check has found the card writable.
bool writeBlocksToCard(Host& host, Session& s, Report& r, const Invocation& inv,
                       const std::vector<std::uint8_t>& data) {
    const Library& lib = s.library();
    const char* step = commandName(inv.command);
    const auto count = static_cast<std::uint16_t>(data.size() / kBlockBytes);
    if (!s.init(false) || !s.findDrive(false) || !s.checkCard(false))
        return false;
    Progress progress(host, step, count);
    // One call each: a secure write always starts at the area's start, and
    // every DDWritePT locks the volume and pauses after its write.
    const std::uint32_t status = inv.command == Command::SecureWrite ? lib.secureWrite(data.data(), count)
                                                                     : lib.writePt(data.data(), count, inv.first);
    if (!s.check(step, status))
        return false;
    progress.update(count);
    if (inv.command == Command::WritePt)
        r.number("offset", inv.first);
    blocks(r, inv, data.size());
    return true;
}

} // namespace ddtool
