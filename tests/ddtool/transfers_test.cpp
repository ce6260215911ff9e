// The commands that move blocks: what lands in the file is what the card
// holds, what is written reaches the card, a failing step stops the command
// with its status, and progress shows on a terminal only.
#include "ddtool_fixture.h"

#include "platform/sim/sd_controller.h"

namespace {

std::vector<std::uint8_t> pattern(std::size_t blocks) {
    std::vector<std::uint8_t> bytes(blocks * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
    return bytes;
}

// Across a chunk of calls, up to the key block's last index.
TEST_F(DdtoolTest, MkbAndReadPtWriteTheCardsBlocksToTheFile) {
    const std::string out = folder("transfers") + "mkb.bin";
    Run r = ddtool({"mkb", "3", "0xFED4", "300", out});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.keys, (std::vector<std::string>{"selector", "first", "blocks", "bytes", "file"}));
    EXPECT_EQ(r.values["bytes"], "153600");
    auto bytes = contents(out);
    ASSERT_EQ(bytes.size(), 300u * 512);
    for (unsigned k : {0u, 1u, 255u, 256u, 299u})
        for (unsigned i : {0u, 511u})
            EXPECT_EQ(bytes[k * 512 + i], sim::CardRegisters::mkbByte(3, static_cast<std::uint16_t>(0xFED4 + k), i))
                << k << " " << i;

    r = ddtool({"read-pt", "7", "300", out, "--force"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    bytes = contents(out);
    ASSERT_EQ(bytes.size(), 300u * 512);
    for (unsigned k : {0u, 255u, 256u, 299u})
        EXPECT_EQ(bytes[k * 512 + 9], sim::CardRegisters::protectedByte(7 + k, 9)) << k;
}

TEST_F(DdtoolTest, WritesReachTheCard) {
    const auto data = pattern(3);
    const std::string in = file("in.bin", data);
    Run r = ddtool({"secure-write", in, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.values["blocks"], "3");
    auto area = host->reader()->controllerDriver().secureArea();
    area.resize(data.size());
    EXPECT_EQ(area, data);

    r = ddtool({"write-pt", "100", in, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.keys, (std::vector<std::string>{"offset", "blocks", "bytes", "file"}));
    EXPECT_EQ(host->reader()->drive().readSectors(100, 3), data);
}

TEST_F(DdtoolTest, AFailingStepEndsTheCommandWithItsStatus) {
    const std::string in = file("in.bin", pattern(1));
    const std::string out = file("not_written.bin", pattern(1));
    const struct {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--sim", "letter=A", "info"}, "drive: 0x1002 (no card drive: no reader with a card in it)"},
        {{"--sim", "fail=A000002C", "info"}, "identify: 0x12FF (a command to the card or the drive failed)"},
        {{"--sim", "csd=400E00325B5900003B377F800A4040AE,fail=A000002C", "csd"},
         "cardStatus: 0x12FF (a command to the card or the drive failed)"},
        {{"--sim", "fail=A0000034", "mid"}, "mid: 0x12FF (a command to the card or the drive failed)"},
        {{"--sim", "fail=A0000054", "read-pt", "0", "2", out, "--force"},
         "read-pt: 0x12FF (a command to the card or the drive failed)"},
        {{"--sim", "fail=A000005C", "secure-read", "2", out, "--force"},
         "secure-read: 0x12FF (a command to the card or the drive failed)"},
        {{"--sim", "wp=1", "secure-write", "--yes", in},
         "secure-write: 0x1005 (write refused: the card is write-protected)"},
        {{"--sim", "csd=" + std::string("400E00325B5900003B377F800A4050AE"), "write-pt", "--yes", "0", in},
         "write-pt: 0x1005 (write refused: the card is write-protected)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        const Run r = ddtool(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "ddtool: " + std::string(c.error) + "\n");
    }
    // A failed read leaves the file as it was; a refused write sends nothing.
    EXPECT_EQ(contents(out), pattern(1));
    EXPECT_TRUE(host->reader()->drive().writes().empty());
}

TEST_F(DdtoolTest, ProgressShowsOnATerminalOnly) {
    const std::string out = folder("progress") + "out.bin";
    Run r = ddtool({"read-pt", "0", "512", out, "--force"}, true);
    EXPECT_EQ(r.progress, "\rread-pt: 0 of 512 blocks (0%)\rread-pt: 256 of 512 blocks (50%)"
                          "\rread-pt: 512 of 512 blocks (100%)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ddtool({"read-pt", "0", "512", out, "--force"}, false).progress, "");
    EXPECT_EQ(ddtool({"read-pt", "0", "255", out, "--force"}, true).progress, ""); // done before anyone could read it
    r = ddtool({"secure-read", "1000", out, "--force"}, true);
    EXPECT_EQ(r.progress, "\rsecure-read: 0 of 1000 blocks (0%)\rsecure-read: 1000 of 1000 blocks (100%)\n");
}

TEST_F(DdtoolTest, MidIsTheCardsMediaIdentifier) {
    EXPECT_EQ(ddtool({"mid"}).values["mid"], "4D49443031323334");
    EXPECT_EQ(ddtool({"--sim", "mid=0123456789abcdef", "mid"}).values["mid"], "0123456789ABCDEF");
}

} // namespace
