// ddtool against every real card of the catalogue: `info` on the card in the
// simulated reader prints what the library answers for it, `csd HEX` decodes
// the card's register to the fields it was built from, and `csd` on the card
// agrees with the register as far as the library reports it.
#include "ddtool_fixture.h"

#include "numbers.h"
#include "sim_card.h"

#include "platform/sim/card_catalogue.h"

namespace {

struct CardCase {
    const char* name;
    sim::MemoryCard (*card)();
    // info: DDIdentify after a card check, and DDSecureIdentify
    const char* cardStatus;
    std::uint32_t sectors, capacityClass;
    std::uint16_t heads, sectorsPerTrack, cylinders;
    std::uint32_t erasesize;
    std::uint8_t readBlLen;
    std::uint16_t csize;
    std::uint8_t csizeMult;
    // csd HEX: the register's own fields
    std::uint32_t structure, cSize;
    std::uint64_t capacity;
};

const CardCase kCards[] = {
    {"standard128Mb", sim::cards::standard128Mb, "0x0001 (checked)", 246784u, 2560, 8, 32, 964, 128, 9, 3855, 4, 0,
     3855, 126353408ull},
    {"standard992Mb", sim::cards::standard992Mb, "0x0001 (checked)", 1984512u, 20480, 32, 63, 984, 128, 9, 3875, 7, 0,
     3875, 1016070144ull},
    {"standard1Gb", sim::cards::standard1Gb, "0x0001 (checked)", 1976320u, 20480, 32, 63, 980, 128, 9, 3859, 7, 0, 3859,
     1011875840ull},
    {"standard1GbWriteProtected", sim::cards::standard1GbWriteProtected, "0x0003 (checked, writeProtected)", 1976320u,
     20480, 32, 63, 980, 128, 9, 3859, 7, 0, 3859, 1011875840ull},
    {"standard2Gb", sim::cards::standard2Gb, "0x0001 (checked)", 3970048u, 40960, 64, 63, 984, 32, 10, 3876, 7, 0, 3876,
     2032664576ull},
    {"standard4Gb", sim::cards::standard4Gb, "0x0001 (checked)", 7880704u, 65536, 128, 63, 977, 128, 11, 3847, 7, 0,
     3847, 4034920448ull},
    {"high4Gb", sim::cards::high4Gb, "0x0005 (checked, highCapacity)", 7710720u, 65536, 128, 63, 956, 128, 9, 7529, 0,
     1, 7529, 3947888640ull},
    {"high8Gb", sim::cards::high8Gb, "0x0005 (checked, highCapacity)", 15523840u, 98304, 255, 63, 966, 128, 9, 15159, 0,
     1, 15159, 7948206080ull},
    {"high32Gb", sim::cards::high32Gb, "0x0005 (checked, highCapacity)", 67108864u, 262144, 255, 63, 4177, 128, 9,
     65535, 0, 1, 65535, 34359738368ull},
    {"extended32Gb", sim::cards::extended32Gb, "0x0011 (checked, extendedCapacity)", 67109888u, 262144, 255, 63, 4177,
     128, 9, 0, 0, 1, 65536, 34360262656ull},
    {"extended64Gb", sim::cards::extended64Gb, "0x0011 (checked, extendedCapacity)", 124059648u, 262144, 255, 63, 7722,
     128, 9, 55615, 0, 1, 121151, 63518539776ull},
    {"extended128Gb", sim::cards::extended128Gb, "0x0011 (checked, extendedCapacity)", 244809728u, 262144, 255, 63,
     15238, 128, 9, 42463, 0, 1, 239071, 125342580736ull},
    {"extended2Tb", sim::cards::extended2Tb, "0x0011 (checked, extendedCapacity)", 4294705152u, 262144, 255, 63, 5189,
     128, 9, 65279, 0, 1, 0x3FFEFF, 2198889037824ull},
};

// A value without the note after it.
std::string number(const std::string& value) {
    return value.substr(0, value.find(' '));
}

std::string hexOf(const sim::MemoryCard& card) {
    return ddtool::hexBytes(card.registers.csd.data(), card.registers.csd.size());
}

TEST_F(DdtoolTest, InfoPrintsWhatTheLibraryAnswersForEveryCard) {
    for (const auto& c : kCards) {
        SCOPED_TRACE(c.name);
        const sim::MemoryCard card = c.card();
        // Every key of --sim, from the catalogue card: the simulated card is that card.
        const Run r = ddtool({"--sim", ddtool::simCardTextOf(card), "info"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> keys = {
            "sysinit",   "drive",     "cardStatus", "writeProtected", "highCapacity",    "noSectors",
            "erasesize", "cylinders", "noHeads",    "bytesPerSector", "sectorsPerTrack", "readBlLen",
            "Csize",     "CsizeMult", "reserved1",  "reserved2",      "capacityClass"};
        EXPECT_EQ(r.keys, keys);
        auto v = r.values;
        EXPECT_EQ(v["sysinit"], "0x0000 (success)");
        EXPECT_EQ(v["drive"], "E: (5)");
        EXPECT_EQ(v["cardStatus"], c.cardStatus);
        EXPECT_EQ(v["writeProtected"], card.writeProtected() ? "yes" : "no");
        EXPECT_EQ(v["highCapacity"], c.structure == 0  ? "no"
                                     : c.cSize < 65536 ? "yes (up to 32 GB)"
                                                       : "yes (above 32 GB)");
        EXPECT_EQ(v["noSectors"], std::to_string(c.sectors));
        EXPECT_EQ(v["erasesize"], std::to_string(c.erasesize));
        // The library keeps 16 bits of cylinders and, above 32 GB, of C_SIZE.
        const std::uint32_t cylinders = c.sectors / c.heads / c.sectorsPerTrack;
        EXPECT_EQ(v["cylinders"],
                  std::to_string(c.cylinders) +
                      (cylinders > 0xFFFF ? " (the low 16 bits of " + std::to_string(cylinders) + ")" : ""));
        EXPECT_EQ(v["noHeads"], std::to_string(c.heads));
        EXPECT_EQ(v["bytesPerSector"], "512");
        EXPECT_EQ(v["sectorsPerTrack"], std::to_string(c.sectorsPerTrack));
        EXPECT_EQ(v["readBlLen"], std::to_string(c.readBlLen));
        EXPECT_EQ(v["Csize"],
                  std::to_string(c.csize) +
                      (c.cSize > 0xFFFF ? " (the low 16 bits of C_SIZE " + std::to_string(c.cSize) + ")" : ""));
        EXPECT_EQ(v["CsizeMult"], std::to_string(c.csizeMult));
        EXPECT_EQ(v["reserved1"], "0");
        EXPECT_EQ(v["reserved2"], "0");
        EXPECT_EQ(v["capacityClass"], std::to_string(c.capacityClass));
    }
}

// The register alone describes the card: high capacity, write protection,
// last block and geometry follow from it as the catalogue's cards do.
TEST_F(DdtoolTest, ACardFromItsRegisterAloneIsTheCatalogueCard) {
    for (const auto& c : kCards) {
        SCOPED_TRACE(c.name);
        const Run whole = ddtool({"--sim", ddtool::simCardTextOf(c.card()), "info"});
        const Run fromCsd = ddtool({"--sim", "csd=" + hexOf(c.card()), "info"});
        EXPECT_EQ(fromCsd.exitCode, 0);
        EXPECT_EQ(fromCsd.out, whole.out);
    }
}

TEST_F(DdtoolTest, CsdDecodesEveryCardsRegister) {
    for (const auto& c : kCards) {
        SCOPED_TRACE(c.name);
        const Run r = ddtool({"csd", hexOf(c.card())});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        auto v = r.values;
        EXPECT_EQ(v["source"], "hex");
        EXPECT_EQ(v["CSD_STRUCTURE"],
                  std::to_string(c.structure) + (c.structure ? " (version 2.0)" : " (version 1.0)"));
        EXPECT_EQ(number(v["READ_BL_LEN"]), std::to_string(c.readBlLen));
        EXPECT_EQ(v["C_SIZE"], std::to_string(c.cSize));
        EXPECT_EQ(number(v["SECTOR_SIZE"]), std::to_string(c.erasesize - 1));
        if (c.structure == 0)
            EXPECT_EQ(number(v["C_SIZE_MULT"]), std::to_string(c.csizeMult));
        else
            EXPECT_EQ(v.count("C_SIZE_MULT"), 0u);
        EXPECT_EQ(number(v["capacity"]), std::to_string(c.capacity));
        EXPECT_EQ(c.capacity, 512ull * c.sectors); // what the drive reports for the card
        EXPECT_EQ(v["crcValid"], "yes");
    }
}

// What the library tells of the card's register is the register's: the
// same values `csd HEX` gives; above 32 GB C_SIZE and the capacity come from
// the drive's size.
TEST_F(DdtoolTest, CsdFromTheCardAgreesWithItsRegister) {
    for (const auto& c : kCards) {
        SCOPED_TRACE(c.name);
        const Run card = ddtool({"--sim", ddtool::simCardTextOf(c.card()), "csd"});
        const Run hex = ddtool({"csd", hexOf(c.card())});
        ASSERT_EQ(card.exitCode, 0) << card.err;
        EXPECT_EQ(card.values.at("source"), "library");
        for (const char* key : {"READ_BL_LEN", "C_SIZE_MULT", "SECTOR_SIZE", "capacity"})
            EXPECT_EQ(card.values.count(key) ? card.values.at(key) : "-",
                      hex.values.count(key) ? hex.values.at(key) : "-")
                << key;
        EXPECT_EQ(number(card.values.at("CSD_STRUCTURE")), number(hex.values.at("CSD_STRUCTURE")));
        EXPECT_EQ(number(card.values.at("C_SIZE")), hex.values.at("C_SIZE"));
        // Fields the library does not report are not made up.
        EXPECT_EQ(card.values.count("TAAC") + card.values.count("CRC") + card.values.count("crcValid"), 0u);
    }
}

// A card of 2^32 blocks, whose READ CAPACITY(10) answer is 0xFFFFFFFF: its
// size is said to be beyond that, never 0 sectors.
TEST_F(DdtoolTest, ACardBeyondReadCapacityIsNeverZeroSectors) {
    const std::string beyond = "a card of 2 TiB or more, whose size READ CAPACITY(10) cannot report";
    for (const char* command : {"info", "csd"}) {
        SCOPED_TRACE(command);
        const Run r = ddtool({"--sim", "csd=400E00325B59003FFFFF7F800A4040AE", command});
        // The library refuses a size it could not read; ddtool says why.
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "ddtool: identify: 0x12FF (a command to the card or the drive failed): the card is "
                         "above 32 GB and may be " +
                             beyond + "\n");
    }
}

// The register the issue names: an 8 GB card as it reads on a real reader.
TEST_F(DdtoolTest, ARealEightGigabyteCard) {
    const std::string csd = "400E00325B5900003B377F800A4040AE";
    const Run info = ddtool({"--sim", "csd=" + csd + ",hc=1,wp=0,letter=G", "info"});
    EXPECT_EQ(info.values.at("drive"), "G: (7)");
    EXPECT_EQ(info.values.at("Csize"), "15159");
    EXPECT_EQ(info.values.at("cardStatus"), "0x0005 (checked, highCapacity)");
    Run r = ddtool({"csd", csd});
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"CSD_STRUCTURE", "1 (version 2.0)"},
        {"TAAC", "0x0E (1 ms)"},
        {"NSAC", "0x00 (0 clock cycles)"},
        {"TRAN_SPEED", "0x32 (25 Mbit/s)"},
        {"CCC", "0x5B5 (classes 0, 2, 4, 5, 7, 8, 10)"},
        {"READ_BL_LEN", "9 (512 bytes)"},
        {"READ_BL_PARTIAL", "0"},
        {"WRITE_BLK_MISALIGN", "0"},
        {"READ_BLK_MISALIGN", "0"},
        {"DSR_IMP", "0"},
        {"C_SIZE", "15159"},
        {"ERASE_BLK_EN", "1"},
        {"SECTOR_SIZE", "127 (128 write blocks)"},
        {"WP_GRP_SIZE", "0 (1 erase sector)"},
        {"WP_GRP_ENABLE", "0"},
        {"R2W_FACTOR", "2 (x4)"},
        {"WRITE_BL_LEN", "9 (512 bytes)"},
        {"WRITE_BL_PARTIAL", "0"},
        {"FILE_FORMAT_GRP", "0"},
        {"COPY", "1"},
        {"PERM_WRITE_PROTECT", "0"},
        {"TMP_WRITE_PROTECT", "0"},
        {"FILE_FORMAT", "0 (hard disk-like file system with partition table)"},
        {"WP_UPC", "0"},
        {"CRC", "0x57"},
        {"capacity", "7948206080 bytes (7.4 GiB)"},
        {"crcValid", "yes"},
    };
    std::vector<std::string> keys = {"source"};
    for (const auto& [key, value] : expected) {
        keys.push_back(key);
        EXPECT_EQ(r.values[key], value) << key;
    }
    EXPECT_EQ(r.keys, keys);
}

} // namespace
