// The CSD encoder and the card catalogue of the simulated machine: every field
// at its bits, CRC7 against published values, real cards' registers rebuilt
// from their fields, and what each catalogue card reports.
#include "platform/sim/card_catalogue.h"
#include "platform/sim/csd.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

using sim::CsdFields;
using sim::CsdImage;

std::string hex(const CsdImage& image) {
    std::string s;
    char two[3];
    for (auto b : image) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

std::uint32_t bits(const CsdImage& image, unsigned hi, unsigned lo) {
    std::uint32_t v = 0;
    for (unsigned bit = hi + 1; bit-- > lo;)
        v = (v << 1) | ((image[15 - bit / 8] >> (bit % 8)) & 1u);
    return v;
}

// Set register bits above the CRC.
std::size_t bitsSet(const CsdImage& image) {
    std::size_t n = 0;
    for (int i = 0; i < 15; ++i)
        n += std::bitset<8>(image[i]).count();
    return n;
}

CsdFields blank(std::uint8_t structure) {
    CsdFields f = CsdFields::high(0);
    f.csdStructure = 0;
    f.taac = f.tranSpeed = 0;
    f.ccc = 0;
    f.readBlLen = f.sectorSize = f.r2wFactor = f.writeBlLen = 0;
    f.eraseBlkEn = false;
    f.csdStructure = structure;
    return f;
}

struct FieldCase {
    const char* name;
    std::uint8_t structure;
    unsigned hi, lo;
    std::function<void(CsdFields&, std::uint32_t)> set;
};

const FieldCase kFields[] = {
    {"TAAC", 0, 119, 112, [](CsdFields& f, std::uint32_t v) { f.taac = std::uint8_t(v); }},
    {"NSAC", 0, 111, 104, [](CsdFields& f, std::uint32_t v) { f.nsac = std::uint8_t(v); }},
    {"TRAN_SPEED", 0, 103, 96, [](CsdFields& f, std::uint32_t v) { f.tranSpeed = std::uint8_t(v); }},
    {"CCC", 0, 95, 84, [](CsdFields& f, std::uint32_t v) { f.ccc = std::uint16_t(v); }},
    {"READ_BL_LEN", 0, 83, 80, [](CsdFields& f, std::uint32_t v) { f.readBlLen = std::uint8_t(v); }},
    {"READ_BL_PARTIAL", 0, 79, 79, [](CsdFields& f, std::uint32_t v) { f.readBlPartial = v; }},
    {"WRITE_BLK_MISALIGN", 0, 78, 78, [](CsdFields& f, std::uint32_t v) { f.writeBlkMisalign = v; }},
    {"READ_BLK_MISALIGN", 0, 77, 77, [](CsdFields& f, std::uint32_t v) { f.readBlkMisalign = v; }},
    {"DSR_IMP", 0, 76, 76, [](CsdFields& f, std::uint32_t v) { f.dsrImp = v; }},
    {"C_SIZE 1.0", 0, 73, 62, [](CsdFields& f, std::uint32_t v) { f.cSize = v; }},
    {"VDD_R_CURR_MIN", 0, 61, 59, [](CsdFields& f, std::uint32_t v) { f.vddRCurrMin = std::uint8_t(v); }},
    {"VDD_R_CURR_MAX", 0, 58, 56, [](CsdFields& f, std::uint32_t v) { f.vddRCurrMax = std::uint8_t(v); }},
    {"VDD_W_CURR_MIN", 0, 55, 53, [](CsdFields& f, std::uint32_t v) { f.vddWCurrMin = std::uint8_t(v); }},
    {"VDD_W_CURR_MAX", 0, 52, 50, [](CsdFields& f, std::uint32_t v) { f.vddWCurrMax = std::uint8_t(v); }},
    {"C_SIZE_MULT", 0, 49, 47, [](CsdFields& f, std::uint32_t v) { f.cSizeMult = std::uint8_t(v); }},
    {"ERASE_BLK_EN", 0, 46, 46, [](CsdFields& f, std::uint32_t v) { f.eraseBlkEn = v; }},
    {"SECTOR_SIZE", 0, 45, 39, [](CsdFields& f, std::uint32_t v) { f.sectorSize = std::uint8_t(v); }},
    {"WP_GRP_SIZE", 0, 38, 32, [](CsdFields& f, std::uint32_t v) { f.wpGrpSize = std::uint8_t(v); }},
    {"WP_GRP_ENABLE", 0, 31, 31, [](CsdFields& f, std::uint32_t v) { f.wpGrpEnable = v; }},
    {"R2W_FACTOR", 0, 28, 26, [](CsdFields& f, std::uint32_t v) { f.r2wFactor = std::uint8_t(v); }},
    {"WRITE_BL_LEN", 0, 25, 22, [](CsdFields& f, std::uint32_t v) { f.writeBlLen = std::uint8_t(v); }},
    {"WRITE_BL_PARTIAL", 0, 21, 21, [](CsdFields& f, std::uint32_t v) { f.writeBlPartial = v; }},
    {"FILE_FORMAT_GRP", 0, 15, 15, [](CsdFields& f, std::uint32_t v) { f.fileFormatGrp = v; }},
    {"COPY", 0, 14, 14, [](CsdFields& f, std::uint32_t v) { f.copy = v; }},
    {"PERM_WRITE_PROTECT", 0, 13, 13, [](CsdFields& f, std::uint32_t v) { f.permWriteProtect = v; }},
    {"TMP_WRITE_PROTECT", 0, 12, 12, [](CsdFields& f, std::uint32_t v) { f.tmpWriteProtect = v; }},
    {"FILE_FORMAT", 0, 11, 10, [](CsdFields& f, std::uint32_t v) { f.fileFormat = std::uint8_t(v); }},
    {"C_SIZE 2.0", 1, 69, 48, [](CsdFields& f, std::uint32_t v) { f.cSize = v; }},
};

TEST(SimCsd, EachFieldFillsExactlyItsBits) {
    for (const auto& c : kFields) {
        SCOPED_TRACE(c.name);
        const std::uint32_t full = (1u << (c.hi - c.lo + 1)) - 1;
        CsdFields f = blank(c.structure);
        c.set(f, full);
        const CsdImage image = sim::encodeCsd(f);
        EXPECT_EQ(bits(image, c.hi, c.lo), full);
        EXPECT_EQ(bitsSet(image), (c.hi - c.lo + 1) + c.structure) << hex(image);
        EXPECT_EQ(bits(image, 127, 126), c.structure);
    }
}

TEST(SimCsd, Crc7MatchesTheSdBusValues) {
    // Command frames whose CRC every SD host knows: CMD0, CMD8 (0x1AA), CMD17.
    const std::uint8_t cmd0[] = {0x40, 0, 0, 0, 0};
    const std::uint8_t cmd8[] = {0x48, 0, 0, 0x01, 0xAA};
    const std::uint8_t cmd17[] = {0x51, 0, 0, 0, 0};
    EXPECT_EQ(sim::crc7(cmd0, 5), 0x4A);
    EXPECT_EQ(sim::crc7(cmd8, 5), 0x43);
    EXPECT_EQ(sim::crc7(cmd17, 5), 0x2A);
}

// Registers of real cards as Linux read them from sysfs, published by Gough
// Lui ("Read, Collect & Decode SD Card CSD Register Data", 2014), CRC7
// included, rebuilt here from their fields.
TEST(SimCsd, RealCardsRegistersComeBackFromTheirFields) {
    CsdFields kingston2Gb = CsdFields::standard(10, 3927, 7);
    kingston2Gb.taac = 0x2D;
    kingston2Gb.ccc = 0x5B5;
    kingston2Gb.vddRCurrMin = kingston2Gb.vddWCurrMin = 7;
    kingston2Gb.eraseBlkEn = true;
    kingston2Gb.wpGrpSize = 0;
    kingston2Gb.wpGrpEnable = false;
    kingston2Gb.r2wFactor = 5;
    kingston2Gb.copy = false;
    CsdFields samsung32Gb = CsdFields::high(59877);
    samsung32Gb.copy = true;
    const struct {
        const char* card;
        CsdFields fields;
        const char* published;
    } kCases[] = {
        {"Kingston 2 GB SDSC", kingston2Gb, "002d00325b5a83d5fefbff80168000cf"},
        {"Samsung 32 GB SDHC", samsung32Gb, "400e00325b590000e9e57f800a4040f1"},
        {"Kingston 128 GB SDXC", CsdFields::high(239071), "400e00325b590003a5df7f800a400007"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(hex(sim::encodeCsd(c.fields)), c.published) << c.card;
}

TEST(SimCsd, ImpossibleRegistersAreRefused) {
    CsdFields wide = CsdFields::standard(9, 4096, 7); // C_SIZE has 12 bits
    EXPECT_THROW(sim::encodeCsd(wide), std::invalid_argument);
    EXPECT_THROW(sim::encodeCsd(CsdFields::high(0x400000)), std::invalid_argument); // 22 bits
    CsdFields mixed = CsdFields::high(100);
    mixed.cSizeMult = 1;
    EXPECT_THROW(sim::encodeCsd(mixed), std::invalid_argument);
    CsdFields reserved = CsdFields::high(100);
    reserved.csdStructure = 2;
    EXPECT_THROW(sim::encodeCsd(reserved), std::invalid_argument);
    EXPECT_NO_THROW(sim::encodeCsd(CsdFields::standard(9, 4095, 7)));
    EXPECT_NO_THROW(sim::encodeCsd(CsdFields::high(0x3FFFFF)));
}

// The catalogue as the card library's tests will read it: the register, the
// last block address, the cylinders of a 255 x 63 removable disk, and the
// answers to the high-capacity and write-protect queries.
TEST(SimCards, CatalogueCardsReportWhatTheirRegistersSay) {
    const struct {
        sim::MemoryCard card;
        const char* csd;
        std::uint32_t lastBlockAddress;
        std::int64_t cylinders;
        bool highCapacity;
        bool writeProtected;
    } kCards[] = {
        {sim::cards::standard128Mb(), "002600325f5983c3f6da3fef9240403b", 246783, 15, false, false},
        // 1,984,512 sectors, reported as 123 cylinders.
        {sim::cards::standard992Mb(), "002600325f5983c8f6dbbfef924040e9", 1984511, 123, false, false},
        // Image bytes 5..11: 59 83 C4 F6 DB BF EF.
        {sim::cards::standard1Gb(), "002600325f5983c4f6dbbfef92404019", 1976319, 123, false, false},
        {sim::cards::standard1GbWriteProtected(), "002600325f5983c4f6dbbfef9240502b", 1976319, 123, false, true},
        {sim::cards::standard2Gb(), "002600325f5a83c93efbcfff928040cb", 3970047, 247, false, false},
        {sim::cards::standard4Gb(), "002600325f5b83c1f6dbbfef92c040af", 7880703, 490, false, false},
        {sim::cards::high4Gb(), "400e00325b5900001d697f800a40008b", 7710719, 479, true, false},
        // Image bytes 7..9: 00 3B 37, and below 01 D9 3F.
        {sim::cards::high8Gb(), "400e00325b5900003b377f800a400067", 15523839, 966, true, false},
        {sim::cards::high32Gb(), "400e00325b590000ffff7f800a400003", 67108863, 4177, true, false},
        {sim::cards::extended32Gb(), "400e00325b59000100007f800a400037", 67109887, 4177, true, false},
        {sim::cards::extended64Gb(), "400e00325b590001d93f7f800a40009b", 124059647, 7722, true, false},
        {sim::cards::extended128Gb(), "400e00325b590003a5df7f800a400007", 244809727, 15238, true, false},
        {sim::cards::extended2Tb(), "400e00325b59003ffeff7f800a4000ef", 4294705151u, 267333, true, false},
    };
    ASSERT_EQ(sim::cards::all().size(), std::size(kCards));
    for (const auto& c : kCards) {
        SCOPED_TRACE(c.card.name);
        EXPECT_EQ(hex(c.card.registers.csd), c.csd);
        EXPECT_EQ(c.card.lastBlockAddress, c.lastBlockAddress);
        EXPECT_EQ(c.card.geometry.cylinders, c.cylinders);
        EXPECT_EQ(c.card.geometry.tracksPerCylinder, 255u);
        EXPECT_EQ(c.card.geometry.sectorsPerTrack, 63u);
        EXPECT_EQ(c.card.geometry.bytesPerSector, 512u);
        EXPECT_EQ(c.card.registers.highCapacityAnswer, c.highCapacity ? 1u : 0u);
        EXPECT_EQ(c.card.registers.writeProtectAnswer, c.writeProtected ? 1u : 0u);
        EXPECT_EQ(c.card.medium().writeProtected, c.writeProtected);
    }
}

} // namespace
