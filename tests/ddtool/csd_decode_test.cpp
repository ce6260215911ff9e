// The CSD decoder against the simulated machine's encoder, an independent
// writer of the same layout: every field of versions 1.0 and 2.0 read back
// from its own bits; version 3.0's wider C_SIZE, a reserved structure, the
// CRC7 against published values, and what the coded fields mean.
#include "csd.h"
#include "csd_text.h"

#include "platform/sim/csd.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using ddtool::CsdBytes;

CsdBytes bytesOf(const sim::CsdImage& image) {
    CsdBytes b;
    std::copy(image.begin(), image.end(), b.begin());
    return b;
}

std::map<std::string, std::uint32_t> fieldsOf(const ddtool::Csd& c) {
    std::map<std::string, std::uint32_t> m;
    for (const auto& f : c.fields)
        EXPECT_TRUE(m.emplace(f.name, f.value).second) << f.name << " twice";
    return m;
}

// No two fields alike and none at its default, so a field read from a
// neighbour's bits shows.
TEST(CsdDecode, EveryFieldOfVersionOneAtItsBits) {
    sim::CsdFields f = sim::CsdFields::standard(10, 0xABC, 5);
    f.taac = 0x5D, f.nsac = 0x3C, f.tranSpeed = 0x2B, f.ccc = 0x9A6;
    f.readBlPartial = false, f.writeBlkMisalign = true, f.readBlkMisalign = false, f.dsrImp = true;
    f.vddRCurrMin = 1, f.vddRCurrMax = 2, f.vddWCurrMin = 3, f.vddWCurrMax = 5;
    f.eraseBlkEn = true, f.sectorSize = 0x55, f.wpGrpSize = 0x2A, f.wpGrpEnable = false, f.r2wFactor = 3;
    f.writeBlLen = 11, f.writeBlPartial = true, f.fileFormatGrp = true, f.copy = false;
    f.permWriteProtect = true, f.tmpWriteProtect = false, f.fileFormat = 2;
    const ddtool::Csd c = ddtool::decodeCsd(bytesOf(sim::encodeCsd(f)));
    const std::map<std::string, std::uint32_t> expected = {
        {"CSD_STRUCTURE", 0},
        {"TAAC", 0x5D},
        {"NSAC", 0x3C},
        {"TRAN_SPEED", 0x2B},
        {"CCC", 0x9A6},
        {"READ_BL_LEN", 10},
        {"READ_BL_PARTIAL", 0},
        {"WRITE_BLK_MISALIGN", 1},
        {"READ_BLK_MISALIGN", 0},
        {"DSR_IMP", 1},
        {"C_SIZE", 0xABC},
        {"VDD_R_CURR_MIN", 1},
        {"VDD_R_CURR_MAX", 2},
        {"VDD_W_CURR_MIN", 3},
        {"VDD_W_CURR_MAX", 5},
        {"C_SIZE_MULT", 5},
        {"ERASE_BLK_EN", 1},
        {"SECTOR_SIZE", 0x55},
        {"WP_GRP_SIZE", 0x2A},
        {"WP_GRP_ENABLE", 0},
        {"R2W_FACTOR", 3},
        {"WRITE_BL_LEN", 11},
        {"WRITE_BL_PARTIAL", 1},
        {"FILE_FORMAT_GRP", 1},
        {"COPY", 0},
        {"PERM_WRITE_PROTECT", 1},
        {"TMP_WRITE_PROTECT", 0},
        {"FILE_FORMAT", 2},
        {"WP_UPC", 0},
        {"CRC", c.computedCrc},
    };
    EXPECT_EQ(fieldsOf(c), expected);
    EXPECT_EQ(c.fields.front().name, std::string("CSD_STRUCTURE"));
    EXPECT_EQ(c.fields.back().name, std::string("CRC"));
    EXPECT_EQ(c.size, (0xABCull + 1) << (5 + 2) << 10);
    EXPECT_TRUE(c.crcHolds());
}

TEST(CsdDecode, VersionTwoHasATwentyTwoBitSizeAndNoCurrents) {
    sim::CsdFields f = sim::CsdFields::high(0x3FFEFF);
    f.tmpWriteProtect = true;
    const ddtool::Csd c = ddtool::decodeCsd(bytesOf(sim::encodeCsd(f)));
    auto fields = fieldsOf(c);
    EXPECT_EQ(fields.size(), 25u); // 1.0's thirty, less four currents and C_SIZE_MULT
    EXPECT_EQ(fields["CSD_STRUCTURE"], 1u);
    EXPECT_EQ(fields["C_SIZE"], 0x3FFEFFu);
    EXPECT_EQ(fields["TMP_WRITE_PROTECT"], 1u);
    EXPECT_EQ(fields.count("C_SIZE_MULT") + fields.count("VDD_R_CURR_MIN"), 0u);
    EXPECT_EQ(c.size, 0x3FFF00ull * 512 * 1024);
}

// 3.0 is 2.0 with C_SIZE grown to 28 bits, 75..48: the largest card there is.
TEST(CsdDecode, VersionThreeHasATwentyEightBitSize) {
    CsdBytes b = bytesOf(sim::encodeCsd(sim::CsdFields::high(0)));
    b[0] = 0x80;                           // CSD_STRUCTURE 2
    b[6] = (b[6] & 0xF0) | 0x0F;           // C_SIZE bits 75..72
    b[7] = 0xFF, b[8] = 0xFF, b[9] = 0xFF; // bits 71..48
    const ddtool::Csd c = ddtool::decodeCsd(b);
    EXPECT_EQ(c.structure, 2u);
    EXPECT_EQ(*c.field("C_SIZE"), 0xFFFFFFFu);
    EXPECT_EQ(c.size, 0x10000000ull * 512 * 1024); // 128 TB
    EXPECT_EQ(c.fields.size(), 25u);
    EXPECT_EQ(ddtool::explainCsdField(c.fields.front(), c.fields), "version 3.0");
    // The CRC was the 2.0 register's: it no longer holds.
    EXPECT_FALSE(c.crcHolds());
}

TEST(CsdDecode, AReservedStructureKeepsTheFieldsEveryVersionShares) {
    CsdBytes b = bytesOf(sim::encodeCsd(sim::CsdFields::standard(9, 100, 3)));
    b[0] |= 0xC0;
    const ddtool::Csd c = ddtool::decodeCsd(b);
    EXPECT_EQ(c.structure, 3u);
    EXPECT_FALSE(c.size);
    EXPECT_FALSE(c.field("C_SIZE"));
    EXPECT_EQ(*c.field("READ_BL_LEN"), 9u);
    EXPECT_EQ(c.fields.size(), 24u);
}

// Published CRC7 values of SD commands (CMD0, CMD17) and an R1 response.
TEST(CsdDecode, Crc7) {
    const struct {
        std::uint8_t bytes[5];
        std::uint8_t crc;
    } cases[] = {
        {{0x40, 0x00, 0x00, 0x00, 0x00}, 0x4A},
        {{0x51, 0x00, 0x00, 0x00, 0x00}, 0x2A},
        {{0x11, 0x00, 0x00, 0x09, 0x00}, 0x33},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ddtool::crc7(c.bytes, 5), c.crc);
    CsdBytes b = bytesOf(sim::encodeCsd(sim::CsdFields::high(15159)));
    EXPECT_TRUE(ddtool::decodeCsd(b).crcHolds());
    b[3] ^= 0x01;
    EXPECT_FALSE(ddtool::decodeCsd(b).crcHolds());
}

TEST(CsdDecode, WhatTheCodedFieldsMean) {
    const struct {
        const char* name;
        unsigned hi, lo;
        std::uint32_t value;
        const char* meaning;
    } cases[] = {
        {"TAAC", 119, 112, 0x26, "1.5 ms"},
        {"TAAC", 119, 112, 0x0E, "1 ms"},
        {"TAAC", 119, 112, 0x7F, "80 ms"},
        {"TAAC", 119, 112, 0x00, "reserved"},
        {"TRAN_SPEED", 103, 96, 0x32, "25 Mbit/s"},
        {"TRAN_SPEED", 103, 96, 0x5A, "50 Mbit/s"},
        {"TRAN_SPEED", 103, 96, 0x0B, "100 Mbit/s"},
        {"TRAN_SPEED", 103, 96, 0x2B, "200 Mbit/s"},
        {"TRAN_SPEED", 103, 96, 0x48, "400 kbit/s"},
        {"TRAN_SPEED", 103, 96, 0x34, "reserved"},
        {"CCC", 95, 84, 0x5F5, "classes 0, 2, 4, 5, 6, 7, 8, 10"},
        {"READ_BL_LEN", 83, 80, 11, "2048 bytes"},
        {"VDD_R_CURR_MIN", 61, 59, 0, "0.5 mA"},
        {"VDD_W_CURR_MAX", 52, 50, 7, "200 mA"},
        {"C_SIZE_MULT", 49, 47, 7, "x512"},
        {"R2W_FACTOR", 28, 26, 5, "x32"},
        {"R2W_FACTOR", 28, 26, 6, "reserved"},
        {"FILE_FORMAT", 11, 10, 1, "DOS FAT (floppy-like) with boot sector only"},
        {"C_SIZE", 73, 62, 3859, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ddtool::explainCsdField({c.name, c.hi, c.lo, c.value}, {}), c.meaning) << c.name << " " << c.value;
    const std::vector<ddtool::CsdField> grouped = {{"FILE_FORMAT_GRP", 15, 15, 1}};
    EXPECT_EQ(ddtool::explainCsdField({"FILE_FORMAT", 11, 10, 0}, grouped), "reserved");
}

} // namespace
