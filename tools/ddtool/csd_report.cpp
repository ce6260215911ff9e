#include "csd_report.h"

#include "Ferrocard.h"
#include "csd_text.h"

#include <cstdio>
#include <cstring>

namespace ddtool {

namespace {

void field(Report& r, const CsdField& f, const std::vector<CsdField>& all) {
    r.number(f.name, f.value, csdFieldValue(f), explainCsdField(f, all));
}

void capacity(Report& r, std::uint64_t bytes) {
    r.number("capacity", bytes, std::to_string(bytes) + " bytes", capacityNote(bytes));
}

} // namespace

std::string capacityNote(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double size = static_cast<double>(bytes) / 1024;
    unsigned unit = 0;
    while (size >= 1024 && unit + 1 < sizeof kUnits / sizeof *kUnits) {
        size /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", size, kUnits[unit]);
    return text;
}

void reportCsd(Report& r, const Csd& csd) {
    r.text("source", "hex");
    for (const auto& f : csd.fields)
        field(r, f, csd.fields);
    if (csd.size)
        capacity(r, *csd.size);
    else
        r.raw("capacity", "unknown (CSD_STRUCTURE 3 is reserved)", "null");
    char note[64];
    std::snprintf(note, sizeof note, "CRC 0x%02X, the register's bytes give 0x%02X", csd.crc, csd.computedCrc);
    r.flag("crcValid", csd.crcHolds(), csd.crcHolds() ? "" : note);
}

void reportLibraryCsd(Report& r, const Identity& id, std::uint16_t cardStatus) {
    const bool high = cardStatus & (FERROCARD_CARD_HIGH_CAPACITY | FERROCARD_CARD_EXTENDED_CAPACITY);
    // Above 32 GB C_SIZE needs more than the 16 bits DDIdentify has for it.
    const bool whole = !(cardStatus & FERROCARD_CARD_EXTENDED_CAPACITY);
    const std::uint32_t structure = high ? csd::kVersion2 : csd::kVersion1;
    r.text("source", "library");
    r.number("CSD_STRUCTURE", structure, std::to_string(structure),
             "version " + csdVersionName(structure) + ", as the card's high-capacity answer tells");
    const std::vector<CsdField> none;
    field(r, {"READ_BL_LEN", 83, 80, id.readBlLen}, none);
    if (whole) {
        r.number("C_SIZE", id.Csize);
    } else {
        char text[96];
        std::snprintf(text, sizeof text, "unknown (its low 16 bits are 0x%04X; the card is above 32 GB)", id.Csize);
        r.raw("C_SIZE", text, "null");
    }
    if (!high)
        field(r, {"C_SIZE_MULT", 49, 47, id.CsizeMult}, none);
    field(r, {"SECTOR_SIZE", 45, 39, id.erasesize - 1}, none);
    if (whole)
        capacity(r, *capacityOf(structure, id.Csize, id.CsizeMult, id.readBlLen));
    else
        r.raw("capacity", "unknown", "null");
    r.text("note", "the library reports these fields of the card's register only; "
                   "ddtool csd HEX decodes every field of a register given whole");
}

} // namespace ddtool
