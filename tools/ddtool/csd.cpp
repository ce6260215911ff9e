#include "csd.h"

#include <cstring>

namespace ddtool {

namespace {

// Which versions carry a field.
enum Versions : unsigned {
    k1 = 1u << csd::kVersion1,
    k2 = 1u << csd::kVersion2,
    k3 = 1u << csd::kVersion3,
    kAll = k1 | k2 | k3,
};

struct Layout {
    const char* name;
    unsigned hi, lo;
    unsigned versions;
};

// Every named field, from bit 127 down. C_SIZE has a row per width: 12 bits
// in 1.0, 22 in 2.0, 28 in 3.0. Bits not named here are reserved.
constexpr Layout kLayout[] = {
    {"CSD_STRUCTURE", 127, 126, kAll},
    {"TAAC", 119, 112, kAll},
    {"NSAC", 111, 104, kAll},
    {"TRAN_SPEED", 103, 96, kAll},
    {"CCC", 95, 84, kAll},
    {"READ_BL_LEN", 83, 80, kAll},
    {"READ_BL_PARTIAL", 79, 79, kAll},
    {"WRITE_BLK_MISALIGN", 78, 78, kAll},
    {"READ_BLK_MISALIGN", 77, 77, kAll},
    {"DSR_IMP", 76, 76, kAll},
    {"C_SIZE", 75, 48, k3},
    {"C_SIZE", 73, 62, k1},
    {"C_SIZE", 69, 48, k2},
    {"VDD_R_CURR_MIN", 61, 59, k1},
    {"VDD_R_CURR_MAX", 58, 56, k1},
    {"VDD_W_CURR_MIN", 55, 53, k1},
    {"VDD_W_CURR_MAX", 52, 50, k1},
    {"C_SIZE_MULT", 49, 47, k1},
    {"ERASE_BLK_EN", 46, 46, kAll},
    {"SECTOR_SIZE", 45, 39, kAll},
    {"WP_GRP_SIZE", 38, 32, kAll},
    {"WP_GRP_ENABLE", 31, 31, kAll},
    {"R2W_FACTOR", 28, 26, kAll},
    {"WRITE_BL_LEN", 25, 22, kAll},
    {"WRITE_BL_PARTIAL", 21, 21, kAll},
    {"FILE_FORMAT_GRP", 15, 15, kAll},
    {"COPY", 14, 14, kAll},
    {"PERM_WRITE_PROTECT", 13, 13, kAll},
    {"TMP_WRITE_PROTECT", 12, 12, kAll},
    {"FILE_FORMAT", 11, 10, kAll},
    {"WP_UPC", 9, 9, kAll},
    {"CRC", 7, 1, kAll},
};

// A reserved CSD_STRUCTURE keeps the fields every version shares; its size
// fields cannot be read.
constexpr unsigned kCommonToAll = kAll;
constexpr unsigned kCrcBytes = 15;
// 1.0's block count is (C_SIZE + 1) << (C_SIZE_MULT + 2).
constexpr unsigned kMultOffset = 2;

} // namespace

std::uint32_t registerBits(const CsdBytes& bytes, unsigned hi, unsigned lo) {
    std::uint32_t value = 0;
    for (unsigned bit = hi + 1; bit-- > lo;)
        value = (value << 1) | ((bytes[kCsdBytes - 1 - bit / 8] >> (bit % 8)) & 1u);
    return value;
}

std::optional<std::uint64_t> capacityOf(std::uint32_t structure, std::uint32_t cSize, std::uint32_t cSizeMult,
                                        std::uint32_t readBlLen) {
    if (structure == csd::kVersion1 && (readBlLen < csd::kMinBlockLength || readBlLen > csd::kMaxBlockLength))
        return std::nullopt;
    if (structure == csd::kVersion1)
        return (static_cast<std::uint64_t>(cSize) + 1) << (cSizeMult + kMultOffset) << readBlLen;
    if (structure == csd::kVersion2 || structure == csd::kVersion3)
        return (static_cast<std::uint64_t>(cSize) + 1) * csd::kSizeUnitBytes;
    return std::nullopt;
}

std::optional<std::uint32_t> Csd::field(const char* name) const {
    for (const auto& f : fields)
        if (!std::strcmp(f.name, name))
            return f.value;
    return std::nullopt;
}

Csd decodeCsd(const CsdBytes& bytes) {
    Csd c;
    c.structure = registerBits(bytes, 127, 126);
    const unsigned versions = c.structure <= csd::kVersion3 ? 1u << c.structure : kCommonToAll;
    for (const auto& l : kLayout)
        if ((l.versions & versions) == versions)
            c.fields.push_back({l.name, l.hi, l.lo, registerBits(bytes, l.hi, l.lo)});
    c.crc = static_cast<std::uint8_t>(registerBits(bytes, 7, 1));
    c.computedCrc = crc7(bytes.data(), kCrcBytes);
    if (auto cSize = c.field("C_SIZE"))
        c.size = capacityOf(c.structure, *cSize, c.field("C_SIZE_MULT").value_or(0), *c.field("READ_BL_LEN"));
    return c;
}

std::uint8_t crc7(const std::uint8_t* bytes, std::size_t count) {
    constexpr std::uint8_t kPolynomial = 0x09; // x^3 + 1; the x^7 term is the shift out
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = ((crc >> 6) ^ (bytes[i] >> bit)) & 1u;
            crc = static_cast<std::uint8_t>((crc << 1) & 0x7F);
            if (feedback)
                crc ^= kPolynomial;
        }
    return crc;
}

} // namespace ddtool
