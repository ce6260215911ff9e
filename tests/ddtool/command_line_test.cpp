// Bad command lines end with one clear line on standard error, nothing on
// standard output, exit code 2, and the library never reached: no machine
// was even made for it.
#include "ddtool_fixture.h"

namespace {

TEST_F(DdtoolTest, BadCommandLinesSayWhatIsWrongInOneLine) {
    const std::string blocks = file("two_blocks", std::vector<std::uint8_t>(1024, 0xA5));
    const std::string ragged = file("ragged", std::vector<std::uint8_t>(700, 1));
    const std::string empty = file("empty");
    const std::string missing = ::testing::TempDir() + "ddtool_no_such_file";
    const std::string csd = "400E00325B5900003B377F800A4040AE";
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{}, "ddtool: no command given (ddtool --help lists the commands)"},
        {{"frob"}, "ddtool: unknown command 'frob' (ddtool --help lists the commands)"},
        {{"--frob", "info"}, "ddtool: unknown option '--frob' (ddtool --help lists the options)"},
        {{"info", "now"}, "ddtool: info takes no arguments"},
        {{"csd", csd, csd}, "ddtool: csd takes [HEX]"},
        {{"csd", "400E00325B5900003B377F800A4040AG"}, "ddtool: csd: HEX: 'G' is not a hexadecimal digit"},
        {{"csd", "400E00325B5900003B377F800A4040A"}, "ddtool: csd: HEX: 31 hex digits: an odd number"},
        {{"csd", "400E0032"}, "ddtool: csd: HEX: 8 hex digits; a CSD register has 32"},
        {{"csd", csd + "00"}, "ddtool: csd: HEX: 34 hex digits; a CSD register has 32"},
        {{"mkb", "1", "0", "65536", "out"}, "ddtool: mkb: COUNT '65536' is not a number from 1 to 65535"},
        {{"secure-read", "0x10000", "out"}, "ddtool: secure-read: COUNT '0x10000' is not a number from 1 to 65535"},
        {{"read-pt", "0", "99999", "out"}, "ddtool: read-pt: COUNT '99999' is not a number from 1 to 65535"},
        {{"secure-read", "0", "out"}, "ddtool: secure-read: COUNT '0' is not a number from 1 to 65535"},
        {{"mkb", "256", "0", "1", "out"}, "ddtool: mkb: SELECTOR '256' is not a number from 0 to 255"},
        {{"mkb", "1", "65536", "1", "out"}, "ddtool: mkb: FIRST '65536' is not a number from 0 to 65535"},
        {{"read-pt", "4294967296", "1", "out"},
         "ddtool: read-pt: FIRST '4294967296' is not a number from 0 to 4294967295"},
        {{"mkb", "1", "0", "4"}, "ddtool: mkb takes SELECTOR FIRST COUNT FILE"},
        {{"write-pt", "--yes", "0"}, "ddtool: write-pt takes OFFSET FILE"},
        {{"secure-write", "--yes", missing},
         "ddtool: secure-write: cannot open " + missing + ": No such file or directory"},
        {{"write-pt", "--yes", "0", ragged},
         "ddtool: write-pt: " + ragged + " holds 700 bytes, not 1 to 65535 blocks of 512"},
        {{"secure-write", "--yes", empty},
         "ddtool: secure-write: " + empty + " holds 0 bytes, not 1 to 65535 blocks of 512"},
        {{"secure-write", blocks}, "ddtool: secure-write writes to the card: add --yes to go ahead"},
        {{"write-pt", "0", blocks}, "ddtool: write-pt writes to the card: add --yes to go ahead"},
        {{"info", "--sim"}, "ddtool: --sim needs a CARD"},
        {{"--sim", "colour=red", "info"},
         "ddtool: --sim: unknown key 'colour' (keys: csd, hc, wp, letter, geometry, lastlba, mid, fail)"},
        {{"--sim", "hc=2", "info"}, "ddtool: --sim: hc=2: not a number from 0 to 1"},
        {{"--sim", "csd=400E", "info"}, "ddtool: --sim: csd=400E: 4 hex digits, not 32"},
        {{"--sim", "geometry=1/2", "info"}, "ddtool: --sim: geometry=1/2: not CYLINDERS/TRACKS/SECTORS"},
        {{"--sim", "fail=A0000099", "info"},
         "ddtool: --sim: fail=A0000099: not a command code of the reader (A000002C to A0000068, A00000CC)"},
        {{"--sim", "letter=5", "info"}, "ddtool: --sim: letter=5: not a drive letter A to Z"},
    };
    for (const auto& c : cases) {
        std::string args;
        for (const auto& a : c.args)
            args += " " + a;
        SCOPED_TRACE("ddtool" + args);
        const Run r = ddtool(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, c.line + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(host->machine(), nullptr);
    }
}

TEST_F(DdtoolTest, OptionsGoAnywhereAndHelpListsTheCommands) {
    EXPECT_EQ(ddtool({"info", "--json"}).out, ddtool({"--json", "info"}).out);
    EXPECT_EQ(ddtool({"info", "--sim=letter=H"}).values["drive"], "H: (8)");
    const Run help = ddtool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"info", "csd [HEX]", "mid", "mkb SELECTOR FIRST COUNT FILE", "secure-read COUNT FILE",
                                "read-pt FIRST COUNT FILE", "secure-write FILE", "write-pt OFFSET FILE"})
        EXPECT_NE(help.out.find("  " + std::string(command)), std::string::npos) << command;
}

} // namespace
