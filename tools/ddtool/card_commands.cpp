// info, csd (from the card) and mid.
#include "commands.h"

#include "csd_report.h"
#include "numbers.h"

namespace ddtool {

namespace {

constexpr std::size_t kMediaIdBytes = 8;

} // namespace

bool info(Session& s, Report& r) {
    Identity id;
    if (!s.init(true) || !s.findDrive(true) || !s.checkCard(true) || !s.identify(id))
        return false;
    // Under the parameter names of DDIdentify, in its order.
    r.number("noSectors", id.noSectors);
    r.number("erasesize", id.erasesize);
    r.number("cylinders", id.cylinders);
    r.number("noHeads", id.noHeads);
    r.number("bytesPerSector", id.bytesPerSector);
    r.number("sectorsPerTrack", id.sectorsPerTrack);
    r.number("readBlLen", id.readBlLen);
    r.number("Csize", id.Csize);
    r.number("CsizeMult", id.CsizeMult);
    r.number("reserved1", id.reserved1);
    r.number("reserved2", id.reserved2);
    std::uint32_t capacityClass = 0;
    if (!s.check("capacityClass", s.library().secureIdentify(&capacityClass)))
        return false;
    r.number("capacityClass", capacityClass);
    return true;
}

// The card check comes first: it tells DDIdentify which layout C_SIZE has.
bool cardCsd(Session& s, Report& r) {
    Identity id;
    if (!s.init(false) || !s.findDrive(false) || !s.checkCard(false) || !s.identify(id))
        return false;
    reportLibraryCsd(r, id, s.cardStatus());
    return true;
}

bool mediaId(Session& s, Report& r) {
    std::uint8_t mid[kMediaIdBytes] = {};
    if (!s.init(false) || !s.check("mid", s.library().getMid(mid)))
        return false;
    r.text("mid", hexBytes(mid, sizeof mid));
    return true;
}

} // namespace ddtool
