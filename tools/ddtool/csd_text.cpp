#include "csd_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ddtool {

namespace {

bool is(const CsdField& f, const char* name) {
    return !std::strcmp(f.name, name);
}

std::string format(const char* pattern, double value, const char* unit) {
    char text[48];
    std::snprintf(text, sizeof text, pattern, value, unit);
    return text;
}

// The time value of TAAC and TRAN_SPEED (bits 6..3), in tenths; 0 is reserved.
constexpr unsigned kTimeValueTenths[16] = {0, 10, 12, 13, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 70, 80};

// TAAC: the time value times a unit of 1 ns to 10 ms (bits 2..0).
std::string accessTime(std::uint32_t taac) {
    const unsigned tenths = kTimeValueTenths[(taac >> 3) & 0xF];
    if (!tenths || (taac & 0x80))
        return "reserved";
    static const char* const kUnits[] = {"ns", "ns", "ns", "us", "us", "us", "ms", "ms"};
    static const unsigned kScale[] = {1, 10, 100, 1, 10, 100, 1, 10};
    return format("%g %s", tenths / 10.0 * kScale[taac & 7], kUnits[taac & 7]);
}

// TRAN_SPEED: the time value times a rate of 100 kbit/s to 100 Mbit/s
// (bits 2..0; 4 to 7 are reserved).
std::string transferRate(std::uint32_t speed) {
    const unsigned tenths = kTimeValueTenths[(speed >> 3) & 0xF];
    const unsigned unit = speed & 7;
    if (!tenths || unit > 3 || (speed & 0x80))
        return "reserved";
    static const double kKbits[] = {100, 1000, 10000, 100000};
    const double kbits = tenths / 10.0 * kKbits[unit];
    return kbits < 1000 ? format("%g %s", kbits, "kbit/s") : format("%g %s", kbits / 1000, "Mbit/s");
}

std::string commandClasses(std::uint32_t ccc) {
    std::string classes;
    for (unsigned c = 0; c < 12; ++c)
        if (ccc & (1u << c))
            classes += (classes.empty() ? "classes " : ", ") + std::to_string(c);
    return classes.empty() ? "no class" : classes;
}

std::string count(std::uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// READ_BL_LEN and WRITE_BL_LEN: 512, 1024 or 2048 bytes; other codes are reserved.
std::string blockLength(std::uint32_t log2) {
    return log2 >= csd::kMinBlockLength && log2 <= csd::kMaxBlockLength ? count(1ull << log2, "byte") : "reserved";
}

// The values a version 2.0 register allows a field; a 3.0 register keeps
// them. Up to four, the first repeated to fill the row.
struct Fixed {
    const char* name;
    std::uint32_t values[4];
    const char* shown;
};
constexpr Fixed kFixedFromVersion2[] = {
    {"TAAC", {0x0E, 0x0E, 0x0E, 0x0E}, "0x0E"},
    {"NSAC", {0, 0, 0, 0}, "0x00"},
    {"TRAN_SPEED", {0x32, 0x5A, 0x0B, 0x2B}, "0x32, 0x5A, 0x0B or 0x2B"},
    {"CCC", {0x5B5, 0x7B5, 0xDB5, 0xFB5}, "0x5B5 (classes 9 and 11 optional)"},
    {"READ_BL_LEN", {9, 9, 9, 9}, "9"},
    {"READ_BL_PARTIAL", {0, 0, 0, 0}, "0"},
    {"WRITE_BLK_MISALIGN", {0, 0, 0, 0}, "0"},
    {"READ_BLK_MISALIGN", {0, 0, 0, 0}, "0"},
    {"ERASE_BLK_EN", {1, 1, 1, 1}, "1"},
    {"SECTOR_SIZE", {0x7F, 0x7F, 0x7F, 0x7F}, "127"},
    {"WP_GRP_SIZE", {0, 0, 0, 0}, "0"},
    {"WP_GRP_ENABLE", {0, 0, 0, 0}, "0"},
    {"R2W_FACTOR", {2, 2, 2, 2}, "2"},
    {"WRITE_BL_LEN", {9, 9, 9, 9}, "9"},
    {"WRITE_BL_PARTIAL", {0, 0, 0, 0}, "0"},
    {"FILE_FORMAT_GRP", {0, 0, 0, 0}, "0"},
    {"FILE_FORMAT", {0, 0, 0, 0}, "0"},
};

// VDD_R_CURR_MIN and VDD_W_CURR_MIN; then the two maxima.
constexpr const char* kMinCurrent[8] = {"0.5 mA", "1 mA", "5 mA", "10 mA", "25 mA", "35 mA", "60 mA", "100 mA"};
constexpr const char* kMaxCurrent[8] = {"1 mA", "5 mA", "10 mA", "25 mA", "35 mA", "45 mA", "80 mA", "200 mA"};

std::string fileFormat(std::uint32_t format, const std::vector<CsdField>& fields) {
    for (const auto& f : fields)
        if (is(f, "FILE_FORMAT_GRP") && f.value)
            return "reserved";
    static const char* const kFormats[] = {"hard disk-like file system with partition table",
                                           "DOS FAT (floppy-like) with boot sector only", "universal file format",
                                           "others or unknown"};
    return kFormats[format & 3];
}

} // namespace

std::string csdVersionName(std::uint32_t structure) {
    switch (structure) {
    case csd::kVersion1:
        return "1.0";
    case csd::kVersion2:
        return "2.0";
    case csd::kVersion3:
        return "3.0";
    default:
        return "reserved";
    }
}

std::string fixedValueWarning(const CsdField& f, std::uint32_t structure) {
    if (structure != csd::kVersion2 && structure != csd::kVersion3)
        return "";
    for (const auto& fixed : kFixedFromVersion2)
        if (is(f, fixed.name))
            return std::find(std::begin(fixed.values), std::end(fixed.values), f.value) != std::end(fixed.values)
                       ? ""
                       : "a version " + csdVersionName(structure) + " register has " + fixed.shown;
    return "";
}

std::string csdFieldValue(const CsdField& f) {
    const unsigned width = f.hi - f.lo + 1;
    if (is(f, "TAAC") || is(f, "NSAC") || is(f, "TRAN_SPEED") || is(f, "CCC") || is(f, "CRC")) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%0*X", static_cast<int>((width + 3) / 4), f.value);
        return text;
    }
    return std::to_string(f.value);
}

std::string explainCsdField(const CsdField& f, const std::vector<CsdField>& fields) {
    const std::uint32_t v = f.value;
    if (is(f, "CSD_STRUCTURE"))
        return "version " + csdVersionName(v);
    if (is(f, "TAAC"))
        return accessTime(v);
    if (is(f, "NSAC"))
        return count(v * 100ull, "clock cycle");
    if (is(f, "TRAN_SPEED"))
        return transferRate(v);
    if (is(f, "CCC"))
        return commandClasses(v);
    if (is(f, "READ_BL_LEN") || is(f, "WRITE_BL_LEN"))
        return blockLength(v);
    if (is(f, "VDD_R_CURR_MIN") || is(f, "VDD_W_CURR_MIN"))
        return kMinCurrent[v & 7];
    if (is(f, "VDD_R_CURR_MAX") || is(f, "VDD_W_CURR_MAX"))
        return kMaxCurrent[v & 7];
    if (is(f, "C_SIZE_MULT"))
        return "x" + std::to_string(1u << (v + 2));
    if (is(f, "SECTOR_SIZE"))
        return count(v + 1ull, "write block");
    if (is(f, "WP_GRP_SIZE"))
        return count(v + 1ull, "erase sector");
    if (is(f, "R2W_FACTOR"))
        return v < 6 ? "x" + std::to_string(1u << v) : "reserved";
    if (is(f, "FILE_FORMAT"))
        return fileFormat(v, fields);
    return "";
}

} // namespace ddtool
