#include "sim_card.h"

#include "csd.h"
#include "csd_text.h"
#include "numbers.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>

namespace ddtool {

namespace {

constexpr std::uint64_t kMaxLastBlock = 0xFFFFFFFF; // READ CAPACITY(10) names no block beyond
constexpr std::uint64_t kMaxCylinders = 0x7FFFFFFFFFFFFFFF;
constexpr std::uint64_t kMaxDword = 0xFFFFFFFF;
constexpr std::uint64_t kSectorBytes = 512;

// The codes the library sends the reader's controller, the ones fail= may
// name, by code or by name.
const struct {
    std::uint32_t code;
    const char* name;
    const char* sentBy;
} kCommandCodes[] = {
    {sim::command::kReadCsd, "read-csd", "DDIdentify; DDChkSDCard of a high-capacity card"},
    {sim::command::kReadMkb, "read-mkb", "DDReadMKB"},
    {sim::command::kGetMid, "get-mid", "DDGetMID"},
    {sim::command::kQueryWriteProtect, "query-write-protect", "DDChkSDCard"},
    {sim::command::kSetChallenge, "set-challenge", "DDSetChallenge"},
    {sim::command::kGetChallenge, "get-challenge", "DDGetChallenge"},
    {sim::command::kGetResponse, "get-response", "DDGetResponse"},
    {sim::command::kSetResponse, "set-response", "DDSetResponse"},
    {sim::command::kChangeSa, "change-sa", "DDChangeSA"},
    {sim::command::kSetAddress, "set-address", "DDSecureRead, DDSecureWrite, DDReadPT"},
    {sim::command::kReadProtectedBlock, "read-protected-block", "DDReadPT"},
    {sim::command::kSecureRead, "secure-read", "DDSecureRead"},
    {sim::command::kSecureWrite, "secure-write", "DDSecureWrite"},
    {sim::command::kQueryHighCapacity, "query-high-capacity", "DDChkSDCard"},
    {sim::command::kAnnounce, "announce", "DDSysInit"},
};

struct Keys {
    std::optional<CsdBytes> csd;
    std::optional<std::uint32_t> hc, wp, lastlba;
    std::optional<char> letter;
    std::optional<sim::DiskGeometry> geometry;
    std::optional<std::array<std::uint8_t, 8>> mid;
    std::vector<std::uint32_t> fail;
    std::set<std::string> seen;
};

bool bytesOf(const std::string& key, const std::string& value, std::uint8_t* out, std::size_t size, std::string& why) {
    std::vector<std::uint8_t> bytes;
    if (!parseHexBytes(value, bytes, why) || bytes.size() != size) {
        if (why.empty())
            why = std::to_string(bytes.size() * 2) + " hex digits, not " + std::to_string(size * 2);
        why = key + "=" + value + ": " + why;
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), out);
    return true;
}

bool numberOf(const std::string& key, const std::string& value, std::uint64_t max, std::uint64_t& n, std::string& why) {
    auto parsed = parseNumber(value, max);
    if (!parsed) {
        why = key + "=" + value + ": not a number from 0 to " + std::to_string(max);
        return false;
    }
    n = *parsed;
    return true;
}

bool geometryOf(const std::string& value, sim::DiskGeometry& g, std::string& why) {
    const auto a = value.find('/'), b = value.find('/', a == std::string::npos ? a : a + 1);
    std::uint64_t c = 0, t = 0, s = 0;
    if (a == std::string::npos || b == std::string::npos ||
        !numberOf("geometry", value.substr(0, a), kMaxCylinders, c, why) ||
        !numberOf("geometry", value.substr(a + 1, b - a - 1), kMaxDword, t, why) ||
        !numberOf("geometry", value.substr(b + 1), kMaxDword, s, why)) {
        why = "geometry=" + value + ": not CYLINDERS/TRACKS/SECTORS";
        return false;
    }
    if (!t || !s) {
        why = "geometry=" + value + ": a disk has at least one track per cylinder and one sector per track";
        return false;
    }
    g = {static_cast<std::int64_t>(c), static_cast<DWORD>(t), static_cast<DWORD>(s), sim::DiskDrive::kSectorBytes};
    return true;
}

std::uint32_t registerStructure(const sim::MemoryCard& card) {
    CsdBytes bytes;
    std::copy(card.registers.csd.begin(), card.registers.csd.end(), bytes.begin());
    return decodeCsd(bytes).structure;
}

bool failOf(const std::string& value, std::uint32_t& code, std::string& why) {
    const std::string digits = value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0 ? value : "0x" + value;
    const auto n = parseNumber(digits, kMaxDword);
    for (const auto& c : kCommandCodes)
        if (value == c.name || (n && *n == c.code)) {
            code = c.code;
            return true;
        }
    why = "fail=" + value + ": not a command of the reader (ddtool --sim help lists them)";
    return false;
}

bool keyOf(const std::string& item, Keys& k, std::string& why) {
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    std::uint64_t n = 0;
    if (eq == std::string::npos) {
        why = "'" + item + "' is not KEY=VALUE";
        return false;
    }
    // fail= is the one key that may repeat: one command code each.
    if (key != "fail" && !k.seen.insert(key).second) {
        why = key + "= given twice";
        return false;
    }
    if (key == "csd") {
        k.csd.emplace();
        return bytesOf(key, value, k.csd->data(), kCsdBytes, why);
    }
    if (key == "mid") {
        k.mid.emplace();
        return bytesOf(key, value, k.mid->data(), k.mid->size(), why);
    }
    if (key == "hc" || key == "wp") {
        if (!numberOf(key, value, 1, n, why))
            return false;
        (key == "hc" ? k.hc : k.wp) = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "lastlba") {
        if (!numberOf(key, value, kMaxLastBlock, n, why))
            return false;
        k.lastlba = static_cast<std::uint32_t>(n);
        return true;
    }
    if (key == "letter") {
        if (value.size() != 1 || !std::isalpha(static_cast<unsigned char>(value[0]))) {
            why = "letter=" + value + ": not a drive letter A to Z";
            return false;
        }
        k.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        return true;
    }
    if (key == "geometry") {
        k.geometry.emplace();
        return geometryOf(value, *k.geometry, why);
    }
    if (key == "fail") {
        k.fail.emplace_back();
        return failOf(value, k.fail.back(), why);
    }
    why = "unknown key '" + key + "' (keys: csd, hc, wp, letter, geometry, lastlba, mid, fail)";
    return false;
}

} // namespace

bool parseSimCard(const std::string& text, SimCard& out, std::string& why) {
    Keys k;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto comma = std::min(text.find(',', start), text.size());
        if (!keyOf(text.substr(start, comma - start), k, why)) {
            why = "--sim: " + why;
            return false;
        }
        start = comma + 1;
    }
    SimCard c;
    sim::MemoryCard& card = c.card;
    std::uint64_t sectors = card.sectors();
    if (k.csd) {
        const Csd csd = decodeCsd(*k.csd);
        if (!csd.size) {
            why = std::string("--sim: csd: ") +
                  (csd.structure > csd::kVersion3 ? "CSD_STRUCTURE 3"
                                                  : "READ_BL_LEN " + std::to_string(*csd.field("READ_BL_LEN"))) +
                  " is reserved; the register gives no capacity";
            return false;
        }
        std::copy(k.csd->begin(), k.csd->end(), card.registers.csd.begin());
        sectors = *csd.size / kSectorBytes;
        card.registers.highCapacityAnswer = csd.structure != csd::kVersion1;
        card.registers.writeProtectAnswer =
            csd.field("PERM_WRITE_PROTECT").value_or(0) | csd.field("TMP_WRITE_PROTECT").value_or(0);
        card.lastBlockAddress = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - 1, kMaxLastBlock));
        card.name = "from its CSD register";
    }
    if (k.lastlba) {
        card.lastBlockAddress = *k.lastlba;
        sectors = static_cast<std::uint64_t>(*k.lastlba) + 1;
    }
    if (k.csd || k.lastlba)
        card.geometry = sim::cards::removableGeometry(sectors);
    if (k.geometry)
        card.geometry = *k.geometry;
    if (k.hc && *k.hc != (registerStructure(card) != csd::kVersion1)) {
        why = "--sim: hc=" + std::to_string(*k.hc) + " contradicts the card's version " +
              csdVersionName(registerStructure(card)) + " register";
        return false;
    }
    if (k.wp)
        card.registers.writeProtectAnswer = *k.wp;
    if (k.mid)
        card.registers.mediaId = *k.mid;
    if (k.letter)
        c.letter = *k.letter;
    c.failing = k.fail;
    out = c;
    return true;
}

std::string simCardUsage() {
    std::string text = "--sim CARD: the card in the simulated reader, comma-separated KEY=VALUE, each key once:\n"
                       "  csd=HEX         the CSD register, 32 hex digits; the keys below follow from it unless given\n"
                       "  hc=0|1          the high-capacity answer: 1 for a version 2.0 or 3.0 register, 0 for 1.0\n"
                       "  wp=0|1          the write-protect answer\n"
                       "  letter=X        the card's drive letter (E)\n"
                       "  geometry=C/T/S  cylinders, tracks per cylinder (1 or more), sectors per track (1 or more)\n"
                       "  lastlba=N       the last block address READ CAPACITY(10) answers, 0 to 0xFFFFFFFF\n"
                       "  mid=HEX         the media identifier, 16 hex digits\n"
                       "  fail=COMMAND    a command the controller fails every time, by code or name; repeatable:\n";
    for (const auto& c : kCommandCodes) {
        char line[128];
        std::snprintf(line, sizeof line, "    %08X %-22s %s\n", static_cast<unsigned>(c.code), c.name, c.sentBy);
        text += line;
    }
    return text + "Without --sim: a 1 GB standard-capacity card, writable, as drive E:.\n";
}

std::string simCardTextOf(const sim::MemoryCard& card, char letter) {
    const auto& r = card.registers;
    return "csd=" + hexBytes(r.csd.data(), r.csd.size()) + ",hc=" + std::to_string(r.highCapacityAnswer) +
           ",wp=" + std::to_string(r.writeProtectAnswer) + ",letter=" + std::string(1, letter) +
           ",geometry=" + std::to_string(card.geometry.cylinders) + "/" +
           std::to_string(card.geometry.tracksPerCylinder) + "/" + std::to_string(card.geometry.sectorsPerTrack) +
           ",lastlba=" + std::to_string(card.lastBlockAddress) + ",mid=" + hexBytes(r.mediaId.data(), r.mediaId.size());
}

} // namespace ddtool
