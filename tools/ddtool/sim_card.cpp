#include "sim_card.h"

#include "csd.h"
#include "numbers.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace ddtool {

namespace {

constexpr std::uint64_t kMaxLastBlock = 0xFFFFFFFF; // READ CAPACITY(10) names no block beyond
constexpr std::uint64_t kMaxCylinders = 0x7FFFFFFFFFFFFFFF;
constexpr std::uint64_t kMaxDword = 0xFFFFFFFF;
constexpr std::uint64_t kSectorBytes = 512;

// The codes the reader's controller answers, the ones fail= may name.
constexpr std::uint32_t kCommandCodes[] = {
    sim::command::kReadCsd,
    sim::command::kReadMkb,
    sim::command::kGetMid,
    sim::command::kQueryWriteProtect,
    sim::command::kSetChallenge,
    sim::command::kGetChallenge,
    sim::command::kGetResponse,
    sim::command::kSetResponse,
    sim::command::kChangeSa,
    sim::command::kSetAddress,
    sim::command::kReadProtectedBlock,
    sim::command::kSecureRead,
    sim::command::kSecureWrite,
    sim::command::kQueryHighCapacity,
    sim::command::kAnnounce,
};

struct Keys {
    std::optional<CsdBytes> csd;
    std::optional<std::uint32_t> hc, wp, lastlba;
    std::optional<char> letter;
    std::optional<sim::DiskGeometry> geometry;
    std::optional<std::array<std::uint8_t, 8>> mid;
    std::vector<std::uint32_t> fail;
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
    g = {static_cast<std::int64_t>(c), static_cast<DWORD>(t), static_cast<DWORD>(s), sim::DiskDrive::kSectorBytes};
    return true;
}

bool failOf(const std::string& value, std::uint32_t& code, std::string& why) {
    const std::string digits = value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0 ? value : "0x" + value;
    auto n = parseNumber(digits, kMaxDword);
    if (!n || std::find(std::begin(kCommandCodes), std::end(kCommandCodes), *n) == std::end(kCommandCodes)) {
        why = "fail=" + value + ": not a command code of the reader (A000002C to A0000068, A00000CC)";
        return false;
    }
    code = static_cast<std::uint32_t>(*n);
    return true;
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
            why = "--sim: csd: CSD_STRUCTURE 3 is reserved; the register gives no capacity";
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
    if (k.hc)
        card.registers.highCapacityAnswer = *k.hc;
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

std::string simCardTextOf(const sim::MemoryCard& card, char letter) {
    const auto& r = card.registers;
    return "csd=" + hexBytes(r.csd.data(), r.csd.size()) + ",hc=" + std::to_string(r.highCapacityAnswer) +
           ",wp=" + std::to_string(r.writeProtectAnswer) + ",letter=" + std::string(1, letter) +
           ",geometry=" + std::to_string(card.geometry.cylinders) + "/" +
           std::to_string(card.geometry.tracksPerCylinder) + "/" + std::to_string(card.geometry.sectorsPerTrack) +
           ",lastlba=" + std::to_string(card.lastBlockAddress) + ",mid=" + hexBytes(r.mediaId.data(), r.mediaId.size());
}

} // namespace ddtool
