#include "platform/sim/csd.h"

#include <stdexcept>
#include <string>

namespace sim {

namespace {

// Writes `value` into register bits hi..lo, refusing a value that does not fit.
class RegisterWriter {
  public:
    explicit RegisterWriter(CsdImage& image) : image_(image) {}

    void put(unsigned hi, unsigned lo, std::uint32_t value, const char* field) {
        const unsigned width = hi - lo + 1;
        if (width < 32 && (value >> width) != 0)
            throw std::invalid_argument(std::string(field) + " does not fit in " + std::to_string(width) + " bits");
        for (unsigned bit = lo; bit <= hi; ++bit)
            if ((value >> (bit - lo)) & 1u)
                image_[15 - bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }

  private:
    CsdImage& image_;
};

// The user-area formula of version 1.0 has C_SIZE_MULT and READ_BL_LEN as
// exponents; of version 2.0 a plain count of 512 KB units.
constexpr unsigned kMultOffset = 2;

} // namespace

CsdFields CsdFields::standard(std::uint8_t readBlLen, std::uint32_t cSize, std::uint8_t cSizeMult) {
    CsdFields f;
    f.readBlLen = readBlLen;
    f.writeBlLen = readBlLen;
    f.cSize = cSize;
    f.cSizeMult = cSizeMult;
    return f;
}

// The values the SD Association's physical layer fixes for CSD 2.0.
CsdFields CsdFields::high(std::uint32_t cSize) {
    CsdFields f;
    f.csdStructure = csd::kVersion2;
    f.taac = 0x0E;
    f.nsac = 0x00;
    f.tranSpeed = 0x32;
    f.ccc = 0x5B5;
    f.readBlLen = 9;
    f.readBlPartial = false;
    f.cSize = cSize;
    f.vddRCurrMin = f.vddRCurrMax = f.vddWCurrMin = f.vddWCurrMax = 0;
    f.cSizeMult = 0;
    f.eraseBlkEn = true;
    f.sectorSize = 0x7F;
    f.wpGrpSize = 0;
    f.wpGrpEnable = false;
    f.r2wFactor = 2;
    f.writeBlLen = 9;
    f.copy = false;
    return f;
}

std::uint64_t CsdFields::sectors() const {
    if (csdStructure == csd::kVersion2)
        return (static_cast<std::uint64_t>(cSize) + 1) * csd::kSectorsPerSizeUnit;
    const std::uint64_t bytes = (static_cast<std::uint64_t>(cSize) + 1) << (cSizeMult + kMultOffset) << readBlLen;
    return bytes / csd::kSectorBytes;
}

CsdImage encodeCsd(const CsdFields& f) {
    if (f.csdStructure != csd::kVersion1 && f.csdStructure != csd::kVersion2)
        throw std::invalid_argument("CSD_STRUCTURE " + std::to_string(f.csdStructure) + " is reserved");
    CsdImage image{};
    RegisterWriter w(image);
    w.put(127, 126, f.csdStructure, "CSD_STRUCTURE");
    w.put(119, 112, f.taac, "TAAC");
    w.put(111, 104, f.nsac, "NSAC");
    w.put(103, 96, f.tranSpeed, "TRAN_SPEED");
    w.put(95, 84, f.ccc, "CCC");
    w.put(83, 80, f.readBlLen, "READ_BL_LEN");
    w.put(79, 79, f.readBlPartial, "READ_BL_PARTIAL");
    w.put(78, 78, f.writeBlkMisalign, "WRITE_BLK_MISALIGN");
    w.put(77, 77, f.readBlkMisalign, "READ_BLK_MISALIGN");
    w.put(76, 76, f.dsrImp, "DSR_IMP");
    if (f.csdStructure == csd::kVersion1) {
        w.put(73, 62, f.cSize, "C_SIZE");
        w.put(61, 59, f.vddRCurrMin, "VDD_R_CURR_MIN");
        w.put(58, 56, f.vddRCurrMax, "VDD_R_CURR_MAX");
        w.put(55, 53, f.vddWCurrMin, "VDD_W_CURR_MIN");
        w.put(52, 50, f.vddWCurrMax, "VDD_W_CURR_MAX");
        w.put(49, 47, f.cSizeMult, "C_SIZE_MULT");
    } else {
        if (f.vddRCurrMin || f.vddRCurrMax || f.vddWCurrMin || f.vddWCurrMax || f.cSizeMult)
            throw std::invalid_argument("VDD currents and C_SIZE_MULT exist in CSD 1.0 only");
        w.put(69, 48, f.cSize, "C_SIZE");
    }
    w.put(46, 46, f.eraseBlkEn, "ERASE_BLK_EN");
    w.put(45, 39, f.sectorSize, "SECTOR_SIZE");
    w.put(38, 32, f.wpGrpSize, "WP_GRP_SIZE");
    w.put(31, 31, f.wpGrpEnable, "WP_GRP_ENABLE");
    w.put(28, 26, f.r2wFactor, "R2W_FACTOR");
    w.put(25, 22, f.writeBlLen, "WRITE_BL_LEN");
    w.put(21, 21, f.writeBlPartial, "WRITE_BL_PARTIAL");
    w.put(15, 15, f.fileFormatGrp, "FILE_FORMAT_GRP");
    w.put(14, 14, f.copy, "COPY");
    w.put(13, 13, f.permWriteProtect, "PERM_WRITE_PROTECT");
    w.put(12, 12, f.tmpWriteProtect, "TMP_WRITE_PROTECT");
    w.put(11, 10, f.fileFormat, "FILE_FORMAT");
    w.put(7, 1, crc7(image.data(), 15), "CRC");
    w.put(0, 0, 1, "end bit");
    return image;
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

} // namespace sim
