#include "csd_report.h"

#include "Ferrocard.h"
#include "csd_text.h"

#include <cstdio>
#include <cstring>

namespace ddtool {

namespace {

// A version 2.0 register counts 512 KB units: 1024 blocks each.
constexpr std::uint32_t kBlocksPerSizeUnit = csd::kSizeUnitBytes / 512;
// READ CAPACITY(10) names the last block in 32 bits, and 0xFFFFFFFF means
// "more than this": 2^32 - 1 blocks is the most it reports.
constexpr std::uint64_t kMostReadCapacityBlocks = 0xFFFFFFFF;

void field(Report& r, const CsdField& f, const std::vector<CsdField>& all, std::uint32_t structure,
           std::vector<std::string>& warnings) {
    std::string note = explainCsdField(f, all);
    const std::string warning = fixedValueWarning(f, structure);
    if (!warning.empty()) {
        note += (note.empty() ? "" : "; ") + warning;
        warnings.push_back(std::string(f.name) + ": " + warning);
    }
    r.number(f.name, f.value, csdFieldValue(f), note);
}

void libraryField(Report& r, const CsdField& f) {
    r.number(f.name, f.value, csdFieldValue(f), explainCsdField(f, {}));
}

void capacity(Report& r, std::uint64_t bytes) {
    const bool beyond = bytes / 512 > kMostReadCapacityBlocks;
    r.number("capacity", bytes, std::to_string(bytes) + " bytes",
             capacityNote(bytes) + (beyond ? "; more than READ CAPACITY(10) can report" : ""));
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

std::optional<std::uint32_t> wholeCsize(const Identity& id, std::uint16_t cardStatus) {
    if (!(cardStatus & FERROCARD_CARD_EXTENDED_CAPACITY))
        return id.Csize;
    const std::uint32_t units = id.noSectors / kBlocksPerSizeUnit;
    if (!units || id.noSectors % kBlocksPerSizeUnit || static_cast<std::uint16_t>(units - 1) != id.Csize)
        return std::nullopt;
    return units - 1;
}

void reportCsd(Report& r, const Csd& csd) {
    std::vector<std::string> warnings;
    r.text("source", "hex");
    for (const auto& f : csd.fields)
        field(r, f, csd.fields, csd.structure, warnings);
    if (csd.size)
        capacity(r, *csd.size);
    else
        r.raw("capacity",
              csd.structure > csd::kVersion3 ? "unknown (CSD_STRUCTURE 3 is reserved)"
                                             : "unknown (READ_BL_LEN is reserved)",
              "null");
    char note[64];
    std::snprintf(note, sizeof note, "CRC 0x%02X, the register's bytes give 0x%02X", csd.crc, csd.computedCrc);
    r.flag("crcValid", csd.crcHolds(), csd.crcHolds() ? "" : note);
    std::string list;
    for (const auto& w : warnings)
        list += (list.empty() ? "" : ", ") + jsonString(w);
    r.jsonOnly("warnings", "[" + list + "]");
}

void reportLibraryCsd(Report& r, const Identity& id, std::uint16_t cardStatus) {
    const bool high = cardStatus & (FERROCARD_CARD_HIGH_CAPACITY | FERROCARD_CARD_EXTENDED_CAPACITY);
    // Above 32 GB C_SIZE needs more than the 16 bits DDIdentify has for it.
    const bool cut = cardStatus & FERROCARD_CARD_EXTENDED_CAPACITY;
    const std::uint32_t structure = high ? csd::kVersion2 : csd::kVersion1;
    const auto cSize = wholeCsize(id, cardStatus);
    r.text("source", "library");
    r.number("CSD_STRUCTURE", structure, std::to_string(structure),
             "version " + csdVersionName(structure) + ", as the card's high-capacity answer tells");
    libraryField(r, {"READ_BL_LEN", 83, 80, id.readBlLen});
    char text[112];
    if (cSize && cut) {
        std::snprintf(text, sizeof text, "from noSectors; the library reports its low 16 bits, 0x%04X", id.Csize);
        r.number("C_SIZE", *cSize, text);
    } else if (cSize) {
        r.number("C_SIZE", *cSize);
    } else {
        std::snprintf(text, sizeof text, "unknown (its low 16 bits are 0x%04X; the card is above 32 GB)", id.Csize);
        r.raw("C_SIZE", text, "null");
    }
    if (!high)
        libraryField(r, {"C_SIZE_MULT", 49, 47, id.CsizeMult});
    libraryField(r, {"SECTOR_SIZE", 45, 39, id.erasesize - 1});
    const auto bytes = cSize ? capacityOf(structure, *cSize, id.CsizeMult, id.readBlLen) : std::nullopt;
    if (bytes)
        capacity(r, *bytes);
    else
        r.raw("capacity", id.noSectors ? "unknown" : std::string("unknown (") + kBeyondReadCapacity + ")", "null");
    r.text("note", "the library reports these fields of the card's register only; "
                   "ddtool csd HEX decodes every field of a register given whole");
}

} // namespace ddtool
