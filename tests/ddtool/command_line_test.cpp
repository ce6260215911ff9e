// ddtool's command line as a user and a script meet it, one table: what each
// command line prints on standard output and standard error, and its exit
// code. A bad command line (2) or file (3) is found before the library is
// reached: no machine was even made for it.
#include "ddtool_fixture.h"

#include "device_names.h"
#include "file_system.h"
#include "numbers.h"

#include "platform/sim/card_catalogue.h"
#include "platform/sim/sd_controller.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Match { Whole, Lines }; // stdout as given, or holding every line given

std::string hexWith(const sim::MemoryCard& card, std::size_t byte, std::uint8_t value, std::uint8_t mask) {
    auto csd = card.registers.csd;
    csd[byte] = static_cast<std::uint8_t>((csd[byte] & ~mask) | (value & mask));
    return ddtool::hexBytes(csd.data(), csd.size());
}

std::string protectedBlock(std::uint32_t block) {
    std::string bytes;
    for (unsigned i = 0; i < 512; ++i)
        bytes += static_cast<char>(sim::CardRegisters::protectedByte(block, i));
    return bytes;
}

TEST_F(DdtoolTest, EveryCommandLineEndsAsDocumented) {
    const std::string blocks = file("two_blocks", std::vector<std::uint8_t>(1024, 0xA5));
    const std::string oneBlock = file("one_block", std::vector<std::uint8_t>(512, 0x5A));
    const std::string ragged = file("ragged", std::vector<std::uint8_t>(700, 1));
    const std::string empty = file("empty");
    const std::string missing = ::testing::TempDir() + "ddtool_no_such_file";
    const std::string dir = folder("outputs");
    const std::string kept = dir + "kept.bin", forced = dir + "forced.bin", link = dir + "link.bin";
    for (const auto& f : {kept, forced, dir + "removed.bin"})
        std::ofstream(f) << "before";
    std::filesystem::create_symlink(kept, link);
    // A replaced file keeps its permissions, and where ddtool may give them, its owner.
    chmod(forced.c_str(), 0600);
    const bool root = geteuid() == 0;
    if (root) {
        EXPECT_EQ(chown(forced.c_str(), 1, 1), 0);
    }
    // The temporary file's name, planted beforehand as a link to a file it must not reach.
    const std::string pid = std::to_string(getpid());
    std::filesystem::create_symlink(kept, dir + "planted.bin." + pid + ".part");
    // A folder given as a link.
    std::filesystem::create_directory(dir + "real");
    std::filesystem::create_directory_symlink(dir + "real", dir + "linked");
    // Between the read's calls, someone who may write the folder moves the
    // temporary file of `name` away (or removes it) and puts a link to a file
    // of their choice in its place.
    const auto swapTemporaryOf = [&dir, &kept](const std::string& name, bool remove = false) {
        return [&dir, &kept, name, remove] {
            const std::string temporary = dir + name + "." + std::to_string(getpid()) + ".part";
            if (remove)
                std::filesystem::remove(temporary);
            else
                std::filesystem::rename(temporary, temporary + ".moved");
            std::filesystem::create_symlink(kept, temporary);
        };
    };
    const std::string largest = file("largest", std::vector<std::uint8_t>(65535 * 512, 0x3C));
    const std::string tooLarge = file("too_large", std::vector<std::uint8_t>(65536 * 512, 0x3C));
    sim::MemoryCard version3 = sim::cards::high8Gb();
    version3.registers.csd[0] = 0x80; // CSD_STRUCTURE 2
    const std::string csd = "400E00325B5900003B377F800A4040AE";
    const sim::MemoryCard standard = sim::cards::standard1Gb(), high = sim::cards::high8Gb();
    const std::string version = std::string("version: ddtool ") + DDTOOL_VERSION + "\n";
    const std::string readPtHelp = "usage: ddtool [OPTIONS] read-pt FIRST COUNT FILE";
    const std::string failed = "0x12FF (a command to the card or the drive failed)";
    const struct {
        std::vector<std::string> args;
        std::string err; // the lines of standard error, without the last line end
        int exitCode = 2;
        std::string out = "";
        Match match = Match::Whole;
        std::string input = "";
        std::function<void()> meanwhile = nullptr; // between the read's calls
    } cases[] = {
        // The command line.
        {{}, "ddtool: no command given (ddtool --help lists the commands)"},
        {{"frob"}, "ddtool: unknown command 'frob' (ddtool --help lists the commands)"},
        {{"--frob", "info"}, "ddtool: unknown option '--frob' (ddtool --help lists the options; -- ends them)"},
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
        {{"read-pt", "--", "-1", "1", "out"}, "ddtool: read-pt: FIRST '-1' is not a number from 0 to 4294967295"},
        {{"read-pt", "1f", "1", "out"}, "ddtool: read-pt: FIRST '1f' is not a number from 0 to 4294967295"},
        {{"mkb", "1", "0", "4"}, "ddtool: mkb takes SELECTOR FIRST COUNT FILE"},
        {{"write-pt", "--yes", "0"}, "ddtool: write-pt takes OFFSET FILE"},
        {{"secure-write", blocks}, "ddtool: secure-write writes to the card: add --yes to go ahead"},
        {{"write-pt", "0", blocks}, "ddtool: write-pt writes to the card: add --yes to go ahead"},
        {{"help", "info", "mid"}, "ddtool: help takes [COMMAND]"},
        {{"help", "frob"}, "ddtool: unknown command 'frob' (ddtool --help lists the commands)"},
        {{"help", "read-pt"}, "", 0, readPtHelp, Match::Lines},
        {{"read-pt", "--help"}, "", 0, readPtHelp, Match::Lines},
        {{"--version"}, "", 0, version, Match::Lines},
        {{"-V"}, "", 0, version, Match::Lines},
        {{"/?"}, "", 0, "usage: ddtool [OPTIONS] COMMAND [ARGUMENTS]", Match::Lines},
        // Ranges: the last block of each numbering is readable, one past it is refused.
        {{"read-pt", "4294967295", "2", "out"},
         "ddtool: read-pt: FIRST 4294967295 and COUNT 2 go past the last block address, 4294967295"},
        {{"read-pt", "4294967295", "1", "-"},
         "first: 4294967295\nblocks: 1\nbytes: 512\nfile: -",
         0,
         protectedBlock(4294967295)},
        {{"mkb", "1", "0xFFFF", "2", "out"},
         "ddtool: mkb: FIRST 0xFFFF and COUNT 2 go past the last key block index, 65535"},
        {{"mkb", "1", "0xFFFF", "1", "-"},
         "selector: 1\nfirst: 65535\nblocks: 1\nbytes: 512\nfile: -",
         0,
         "",
         Match::Lines},
        {{"write-pt", "--yes", "4294967295", blocks},
         "ddtool: write-pt: OFFSET 4294967295 and FILE's 2 blocks go past the last sector address, 4294967295"},
        {{"write-pt", "--yes", "4294967295", oneBlock}, "ddtool: write-pt: " + failed, 1},
        // Files: FILE - on standard input and output; an output file's checks.
        {{"secure-write", "--yes", "-"},
         "",
         0,
         "blocks: 2\nbytes: 1024\nfile: -\n",
         Match::Whole,
         std::string(1024, 'x')},
        {{"secure-write", "--yes", "-"},
         "ddtool: secure-write: standard input holds 0 bytes, not 1 to 65535 blocks "
         "of 512",
         3},
        {{"secure-write", "--yes", missing},
         "ddtool: secure-write: cannot open " + missing + ": No such file or directory",
         3},
        {{"write-pt", "--yes", "0", ragged},
         "ddtool: write-pt: " + ragged + " holds 700 bytes, not 1 to 65535 blocks of 512",
         3},
        {{"secure-write", "--yes", empty},
         "ddtool: secure-write: " + empty + " holds 0 bytes, not 1 to 65535 blocks of 512",
         3},
        {{"write-pt", "--yes", "0", largest},
         "",
         0,
         "offset: 0\nblocks: 65535\nbytes: 33553920\nfile: " + largest + "\n"},
        {{"write-pt", "--yes", "0", tooLarge},
         "ddtool: write-pt: " + tooLarge + " holds 33554432+ bytes, not 1 to 65535 blocks of 512",
         3},
        {{"read-pt", "0", "1", kept}, "ddtool: read-pt: " + kept + " exists: add --force to replace it", 3},
        {{"read-pt", "0", "1", link, "--force"}, "ddtool: read-pt: " + link + " is a link: name the file itself", 3},
        {{"secure-read", "1", dir, "--force"},
         "ddtool: secure-read: " + dir + " is not a file that can be replaced",
         3},
        {{"mkb", "1", "0", "1", dir + "none/out.bin"},
         "ddtool: mkb: cannot make a file beside " + dir + "none/out.bin: No such file or directory",
         3},
        {{"--sim", "fail=read-protected-block", "read-pt", "0", "2", kept, "--force"}, "ddtool: read-pt: " + failed, 1},
        {{"read-pt", "7", "1", forced, "--force"}, "", 0, "first: 7\nblocks: 1\nbytes: 512\nfile: " + forced + "\n"},
        {{"read-pt", "7", "1", dir + "planted.bin"},
         "",
         0,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "planted.bin\n"},
        {{"read-pt", "7", "1", dir + "linked/out.bin"},
         "ddtool: read-pt: cannot make a file beside " + dir + "linked/out.bin: its folder " + dir +
             "linked is a link: name the folder itself",
         3},
        // Whatever is swapped in for the temporary file while the card is
        // read, the file ddtool made ends at FILE...
        {{"read-pt", "7", "1", dir + "swapped.bin"},
         "",
         0,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "swapped.bin\n",
         Match::Whole,
         "",
         swapTemporaryOf("swapped.bin")},
        {{"read-pt", "7", "1", dir + "swapped_forced.bin", "--force"},
         "",
         0,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "swapped_forced.bin\n",
         Match::Whole,
         "",
         swapTemporaryOf("swapped_forced.bin")},
        // ... or nothing is named: where its every name was removed, or where
        // it cannot be linked by its handle and its temporary name is renamed,
        // and what took that name is found out. Exit code 3.
        {{"read-pt", "7", "1", dir + "removed.bin", "--force"},
         "ddtool: read-pt: " + dir + "removed.bin." + pid + ".part was removed while the blocks were read: " + dir +
             "removed.bin was left as it was",
         3,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "removed.bin\n",
         Match::Whole,
         "",
         swapTemporaryOf("removed.bin", true)},
        {{"read-pt", "7", "1", dir + "by_name.bin", "--force"},
         "ddtool: read-pt: " + dir + "by_name.bin is not the file ddtool wrote: " + dir + "by_name.bin." + pid +
             ".part was replaced while the blocks were read; nothing was written to what took its place",
         3,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "by_name.bin\n",
         Match::Whole,
         "",
         [&] {
             ddtool::fs::placeByNameOnlyForTests(true);
             swapTemporaryOf("by_name.bin")();
         }},
        // A file that appeared at FILE meanwhile is replaced only with --force; a link never.
        {{"read-pt", "7", "1", dir + "appeared.bin"},
         "ddtool: read-pt: " + dir + "appeared.bin exists: add --force to replace it",
         3,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "appeared.bin\n",
         Match::Whole,
         "",
         [&] { std::ofstream(dir + "appeared.bin") << "theirs"; }},
        {{"read-pt", "7", "1", dir + "appeared_link.bin", "--force"},
         "ddtool: read-pt: " + dir + "appeared_link.bin is a link: name the file itself",
         3,
         "first: 7\nblocks: 1\nbytes: 512\nfile: " + dir + "appeared_link.bin\n",
         Match::Whole,
         "",
         [&] { std::filesystem::create_symlink(kept, dir + "appeared_link.bin"); }},
        {{"--json", "read-pt", "0", "1", "-"},
         "ddtool: read-pt: FILE - and --json would both use standard output",
         2,
         "{\n  \"command\": \"read-pt\",\n  \"error\": {\"message\": \"read-pt: FILE - and --json would both use "
         "standard output\"}\n}\n"},
        // Failures on standard error; with --json, standard output is still one object.
        {{"--json", "frob"},
         "ddtool: unknown command 'frob' (ddtool --help lists the commands)",
         2,
         "{\n  \"error\": {\"message\": \"unknown command 'frob' (ddtool --help lists the commands)\"}\n}\n"},
        {{"--sim", "letter=A", "info"},
         "ddtool: drive: 0x1002 (no card drive: no reader with a card in it)",
         1,
         "sysinit: 0x0000 (success)\n"},
        // csd HEX: reserved values, what a version 2.0 register fixes, sizes READ CAPACITY(10) cannot give.
        {{"csd", "C" + csd.substr(1)},
         "ddtool: csd: HEX: CSD_STRUCTURE 3 is reserved; no version of the register can be read from it"},
        {{"csd", hexWith(standard, 5, 0x0C, 0x0F)},
         "",
         0,
         "READ_BL_LEN: 12 (reserved)\ncapacity: unknown (READ_BL_LEN is reserved)",
         Match::Lines},
        {{"csd", hexWith(standard, 5, 0x08, 0x0F)}, "", 0, "READ_BL_LEN: 8 (reserved)", Match::Lines},
        {{"csd", hexWith(high, 1, 0x26, 0xFF)},
         "",
         0,
         "TAAC: 0x26 (1.5 ms; a version 2.0 register has 0x0E)",
         Match::Lines},
        {{"csd", hexWith(high, 5, 0x0A, 0x0F)},
         "",
         0,
         "READ_BL_LEN: 10 (1024 bytes; a version 2.0 register has 9)",
         Match::Lines},
        {{"csd", hexWith(version3, 1, 0x26, 0xFF)},
         "",
         0,
         "TAAC: 0x26 (1.5 ms; a version 3.0 register has 0x0E)",
         Match::Lines},
        {{"csd", "400E00325B59003FFFFE7F800A4040AE"}, "", 0, "capacity: 2199022731264 bytes (2.0 TiB)", Match::Lines},
        {{"csd", "400E00325B59003FFFFF7F800A4040AE"},
         "",
         0,
         "capacity: 2199023255552 bytes (2.0 TiB; more than READ CAPACITY(10) can report)",
         Match::Lines},
        // --sim: contradictions refused, every command by code or name.
        {{"--sim", "help"}, "", 0, "    A0000054 read-protected-block   DDReadPT", Match::Lines},
        {{"info", "--sim"}, "ddtool: --sim needs a CARD"},
        {{"--sim", "letter=F", "--sim", "letter=G", "info"}, "ddtool: --sim given twice"},
        {{"--sim", "colour=red", "info"},
         "ddtool: --sim: unknown key 'colour' (keys: csd, hc, wp, letter, geometry, lastlba, mid, fail)"},
        {{"--sim", "hc=2", "info"}, "ddtool: --sim: hc=2: not a number from 0 to 1"},
        {{"--sim", "hc=1", "info"}, "ddtool: --sim: hc=1 contradicts the card's version 1.0 register"},
        {{"--sim", "csd=" + csd + ",hc=0", "info"}, "ddtool: --sim: hc=0 contradicts the card's version 2.0 register"},
        {{"--sim", "letter=F,letter=G", "info"}, "ddtool: --sim: letter= given twice"},
        {{"--sim", "csd=400E", "info"}, "ddtool: --sim: csd=400E: 4 hex digits, not 32"},
        {{"--sim", "geometry=1/2", "info"}, "ddtool: --sim: geometry=1/2: not CYLINDERS/TRACKS/SECTORS"},
        {{"--sim", "geometry=0/0/0", "info"},
         "ddtool: --sim: geometry=0/0/0: a disk has at least one track per cylinder and one sector per track"},
        {{"--sim", "geometry=0/1/1,mid=0123456789abcdef", "mid"}, "", 0, "mid: 0123456789ABCDEF\n"},
        {{"--sim", "fail=A0000099", "info"},
         "ddtool: --sim: fail=A0000099: not a command of the reader (ddtool --sim help lists them)"},
        {{"--sim", "fail=get-mid,fail=A000002C", "mid"}, "ddtool: mid: " + failed, 1},
        {{"--sim", "letter=5", "info"}, "ddtool: --sim: letter=5: not a drive letter A to Z"},
    };
    for (const auto& c : cases) {
        std::string args;
        for (const auto& a : c.args)
            args += " " + a;
        SCOPED_TRACE("ddtool" + args);
        betweenCalls = c.meanwhile;
        const Run r = ddtool(c.args, false, c.input);
        betweenCalls = nullptr;
        ddtool::fs::placeByNameOnlyForTests(false);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.err.empty() ? "" : c.err + "\n");
        if (c.match == Match::Whole) {
            EXPECT_EQ(r.out, c.out);
        }
        for (std::size_t at = 0; c.match == Match::Lines && at < c.out.size();) {
            const std::size_t end = std::min(c.out.find('\n', at), c.out.size());
            EXPECT_NE(("\n" + r.out).find("\n" + c.out.substr(at, end - at) + "\n"), std::string::npos)
                << c.out.substr(at, end - at) << " in\n"
                << r.out;
            at = end + 1;
        }
        if ((c.exitCode == ddtool::kExitUsage || c.exitCode == ddtool::kExitFile) && !c.meanwhile) {
            EXPECT_EQ(host->machine(), nullptr);
        }
    }
    // What was refused or failed left its file as it was and nothing beside
    // it; nothing was written through a link.
    for (const std::string& f : {kept, dir + "removed.bin"})
        EXPECT_EQ(contents(f), std::vector<std::uint8_t>({'b', 'e', 'f', 'o', 'r', 'e'})) << f;
    EXPECT_EQ(contents(dir + "appeared.bin"), std::vector<std::uint8_t>({'t', 'h', 'e', 'i', 'r', 's'}));
    const std::string block = protectedBlock(7);
    for (const char* name : {"forced.bin", "planted.bin", "swapped.bin", "swapped_forced.bin"})
        EXPECT_EQ(contents(dir + name), std::vector<std::uint8_t>(block.begin(), block.end())) << name;
    struct stat st = {}, made = {};
    ASSERT_EQ(stat(forced.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(uid_t(1), gid_t(1)));
    }
    // A new file has the permissions any new file of the process gets.
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(stat((dir + "planted.bin").c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0666u & ~mask);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string part = "." + pid + ".part";
    EXPECT_EQ(names, (std::vector<std::string>{"appeared.bin", "appeared_link.bin", "by_name.bin",
                                               "by_name.bin" + part + ".moved", "forced.bin", "kept.bin", "link.bin",
                                               "linked", "planted.bin", "planted.bin" + part, "real", "removed.bin",
                                               "removed.bin" + part, "swapped.bin", "swapped.bin" + part,
                                               "swapped.bin" + part + ".moved", "swapped_forced.bin",
                                               "swapped_forced.bin" + part, "swapped_forced.bin" + part + ".moved"}));
}

TEST_F(DdtoolTest, OptionsGoAnywhereAndHelpListsTheCommands) {
    EXPECT_EQ(ddtool({"info", "--json"}).out, ddtool({"--json", "info"}).out);
    EXPECT_EQ(ddtool({"info", "--sim=letter=H"}).values["drive"], "H: (8)");
    const Run help = ddtool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"info", "csd [HEX]", "mid", "mkb SELECTOR FIRST COUNT FILE", "secure-read COUNT FILE",
                                "read-pt FIRST COUNT FILE", "secure-write FILE", "write-pt OFFSET FILE"})
        EXPECT_NE(help.out.find("  " + std::string(command)), std::string::npos) << command;
    EXPECT_EQ(ddtool({"help", "mkb"}).out, ddtool({"mkb", "--help"}).out);
}

// The names Windows opens a device for, in any folder and with any
// extension: its build refuses them as FILE before the card is touched
// (tests/wine-ddtool runs that).
TEST(WindowsDeviceNames, AreDevicesInAnyFolderWithAnyExtension) {
    const struct {
        const char* path;
        const char* device;
    } cases[] = {
        {"CON", "CON"},
        {"nul.bin", "NUL"},
        {"C:\\x\\com1.txt", "COM1"},
        {"x/Aux.tar.gz", "AUX"},
        {"C:prn", "PRN"},
        {"lpt9", "LPT9"},
        {"COM1.1234.part", "COM1"},
        {"nul .txt", "NUL"},
        {"con.", "CON"},
        {"COM1:", "COM1"},
        {"com\xB9.bin", "COM1"},
        {"LPT\xB3", "LPT3"},
        {"COM0", ""},
        {"COM10", ""},
        {"LPT", ""},
        {"nulx.bin", ""},
        {"x.nul", ""},
        {"nul\\x.bin", ""},
        {"console.log", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ddtool::windowsDeviceName(c.path), c.device) << c.path;
}

} // namespace
