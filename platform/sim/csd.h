// The CSD register of an SD memory card, built from its named fields in the
// layout the SD Association's physical layer gives it: version 1.0 for standard
// capacity cards, version 2.0 for high and extended capacity cards. The
// encoder places each field at its bits and closes the register with its CRC7,
// so that a card in a test reads as its fields, not as sixteen bytes of hex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

// Byte 0 holds register bits 127..120, byte 15 holds bits 7..0.
using CsdImage = std::array<std::uint8_t, 16>;

namespace csd {
constexpr std::uint8_t kVersion1 = 0; // CSD_STRUCTURE of a standard capacity card
constexpr std::uint8_t kVersion2 = 1; // CSD_STRUCTURE of a high or extended capacity card
constexpr std::uint32_t kSectorBytes = 512;
// Version 2.0 counts the user area in units of 512 KB.
constexpr std::uint64_t kSectorsPerSizeUnit = 1024;
} // namespace csd

// Every field of both versions, named as the SD Association's physical layer
// names them, with the register bits it occupies. The defaults are those of a
// typical standard capacity card; high() gives the fixed values version 2.0
// prescribes.
struct CsdFields {
    std::uint8_t csdStructure = csd::kVersion1; // [127:126]
    std::uint8_t taac = 0x26;                   // [119:112]
    std::uint8_t nsac = 0x00;                   // [111:104]
    std::uint8_t tranSpeed = 0x32;              // [103:96]
    std::uint16_t ccc = 0x5F5;                  // [95:84]
    std::uint8_t readBlLen = 9;                 // [83:80]
    bool readBlPartial = true;                  // [79]
    bool writeBlkMisalign = false;              // [78]
    bool readBlkMisalign = false;               // [77]
    bool dsrImp = false;                        // [76]
    std::uint32_t cSize = 0;                    // [73:62] in 1.0 (12 bits), [69:48] in 2.0 (22 bits)
    // Version 1.0 only; in 2.0 their bits belong to C_SIZE and must stay 0.
    std::uint8_t vddRCurrMin = 6;   // [61:59]
    std::uint8_t vddRCurrMax = 6;   // [58:56]
    std::uint8_t vddWCurrMin = 6;   // [55:53]
    std::uint8_t vddWCurrMax = 6;   // [52:50]
    std::uint8_t cSizeMult = 7;     // [49:47]
    bool eraseBlkEn = false;        // [46]
    std::uint8_t sectorSize = 0x7F; // [45:39]
    std::uint8_t wpGrpSize = 0x6F;  // [38:32]
    bool wpGrpEnable = true;        // [31]
    std::uint8_t r2wFactor = 4;     // [28:26]
    std::uint8_t writeBlLen = 9;    // [25:22]
    bool writeBlPartial = false;    // [21]
    bool fileFormatGrp = false;     // [15]
    bool copy = true;               // [14]
    bool permWriteProtect = false;  // [13]
    bool tmpWriteProtect = false;   // [12]
    std::uint8_t fileFormat = 0;    // [11:10]

    // A standard capacity card (CSD 1.0) of (cSize + 1) << (cSizeMult + 2)
    // blocks of 2^readBlLen bytes.
    static CsdFields standard(std::uint8_t readBlLen, std::uint32_t cSize, std::uint8_t cSizeMult);
    // A high or extended capacity card (CSD 2.0) of (cSize + 1) x 512 KB.
    static CsdFields high(std::uint32_t cSize);

    // The user area in 512-byte sectors, as the card's capacity formula gives it.
    std::uint64_t sectors() const;
};

// The register for `fields`, CRC7 included. A field wider than its bits, a
// version 1.0 field set in a 2.0 register, or a reserved CSD_STRUCTURE throws
// std::invalid_argument: a catalogue card must be a card that can exist.
CsdImage encodeCsd(const CsdFields& fields);

// The SD bus's CRC7 (x^7 + x^3 + 1) over `count` bytes; a register's last byte
// is crc7(first 15 bytes) << 1 | 1.
std::uint8_t crc7(const std::uint8_t* bytes, std::size_t count);

} // namespace sim
