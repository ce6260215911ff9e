// The CSD register of an SD memory card, read field by field under the names
// the SD Association's physical layer gives them, for the three structure versions a
// card can carry: 1.0 (standard capacity), 2.0 (high and extended capacity)
// and 3.0 (ultra capacity). Only the size fields move between versions; the
// rest of the register keeps its bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ddtool {

constexpr std::size_t kCsdBytes = 16;
// Byte 0 holds register bits 127..120, byte 15 bits 7..0, as the card sends it.
using CsdBytes = std::array<std::uint8_t, kCsdBytes>;

namespace csd {
// CSD_STRUCTURE values.
constexpr std::uint32_t kVersion1 = 0;
constexpr std::uint32_t kVersion2 = 1;
constexpr std::uint32_t kVersion3 = 2;
// Versions 2.0 and 3.0 count the user area in units of 512 KB.
constexpr std::uint64_t kSizeUnitBytes = 512 * 1024;
// READ_BL_LEN and WRITE_BL_LEN name 2^9 to 2^11 bytes; other codes are reserved.
constexpr std::uint32_t kMinBlockLength = 9;
constexpr std::uint32_t kMaxBlockLength = 11;
} // namespace csd

struct CsdField {
    const char* name;
    unsigned hi, lo; // register bits
    std::uint32_t value;
};

struct Csd {
    std::uint32_t structure = 0;       // CSD_STRUCTURE
    std::vector<CsdField> fields;      // the fields of its version, from bit 127 down
    std::optional<std::uint64_t> size; // capacity in bytes; none for a reserved structure
    std::uint8_t crc = 0;              // the CRC field, bits 7..1
    std::uint8_t computedCrc = 0;      // CRC7 over bytes 0..14

    bool crcHolds() const { return crc == computedCrc; }
    // The field called `name`, if the register's version has it.
    std::optional<std::uint32_t> field(const char* name) const;
};

Csd decodeCsd(const CsdBytes& bytes);

// Register bits hi..lo (at most 32 of them) as a number.
std::uint32_t registerBits(const CsdBytes& bytes, unsigned hi, unsigned lo);

// The user area in bytes by the version's formula: 1.0 counts blocks of
// 2^READ_BL_LEN bytes, (C_SIZE + 1) << (C_SIZE_MULT + 2) of them; 2.0 and 3.0
// count 512 KB units, C_SIZE + 1 of them. None for a reserved structure, or
// a 1.0 register whose READ_BL_LEN is reserved.
std::optional<std::uint64_t> capacityOf(std::uint32_t structure, std::uint32_t cSize, std::uint32_t cSizeMult,
                                        std::uint32_t readBlLen);

// The SD bus's CRC7 (x^7 + x^3 + 1) over `count` bytes; a register's last byte
// is crc7(first 15 bytes) << 1 | 1.
std::uint8_t crc7(const std::uint8_t* bytes, std::size_t count);

} // namespace ddtool
