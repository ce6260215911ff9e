// info, csd (from the card) and mid.
#include "commands.h"

#include "Ferrocard.h"
#include "csd_report.h"
#include "numbers.h"

namespace ddtool {

namespace {

constexpr std::size_t kMediaIdBytes = 8;

// The cylinders DDIdentify counts before it keeps their low 16 bits.
std::uint32_t wholeCylinders(const Identity& id) {
    return id.noHeads && id.sectorsPerTrack ? id.noSectors / id.noHeads / id.sectorsPerTrack : 0;
}

// Beside a value the library cut to 16 bits: what it was whole.
std::string lowBitsOf(std::uint32_t whole, std::uint16_t kept, const std::string& what) {
    return whole == kept ? "" : "the low 16 bits of " + what + std::to_string(whole);
}

} // namespace

bool info(Session& s, Report& r) {
    Identity id;
    if (!s.init(true) || !s.findDrive(true) || !s.checkCard(true) || !s.identify(id))
        return false;
    // Under the parameter names of DDIdentify, in its order.
    if (id.noSectors)
        r.number("noSectors", id.noSectors);
    else // the last block address 0xFFFFFFFF, plus one, in 32 bits
        r.raw("noSectors", std::string("unknown (") + kBeyondReadCapacity + ")", "null");
    r.number("erasesize", id.erasesize);
    r.number("cylinders", id.cylinders, lowBitsOf(wholeCylinders(id), id.cylinders, ""));
    r.number("noHeads", id.noHeads);
    r.number("bytesPerSector", id.bytesPerSector);
    r.number("sectorsPerTrack", id.sectorsPerTrack);
    r.number("readBlLen", id.readBlLen);
    if (s.cardStatus() & FERROCARD_CARD_EXTENDED_CAPACITY) {
        const auto cSize = wholeCsize(id, s.cardStatus());
        r.number("Csize", id.Csize,
                 cSize ? lowBitsOf(*cSize, id.Csize, "C_SIZE ") : "the low 16 bits of C_SIZE, which needs more");
    } else {
        r.number("Csize", id.Csize);
    }
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
