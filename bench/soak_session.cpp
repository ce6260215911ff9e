// One SD application's session with Ferrocard, as the soak repeats it: every
// export an application uses on a memory card, with a write on the card's
// protected area, and the answers folded into one text to compare.
#include "soak.h"

#include "Ferrocard.h"

#include "platform/sim/card_catalogue.h"

#include <array>
#include <cstdio>

namespace soak {

namespace {

constexpr std::size_t kBlock = 512;

// The answers of one session, in call order.
class Answers {
  public:
    // A call's status, which must be `expected`.
    void status(const char* call, std::uint32_t got, std::uint32_t expected = FERROCARD_OK) {
        add(call, got);
        if (got != expected && failed_.empty())
            failed_ = std::string(call) + " answered " + hex(got);
    }
    void value(const char* name, std::uint64_t v) { add(name, v); }
    // Bytes by their FNV-1a digest.
    template <std::size_t N> void bytes(const char* name, const std::array<std::uint8_t, N>& b) {
        std::uint64_t h = 0xcbf29ce484222325ull;
        for (std::uint8_t x : b)
            h = (h ^ x) * 0x100000001b3ull;
        add(name, h);
    }
    const std::string& text() const { return text_; }
    const std::string& failed() const { return failed_; }

  private:
    static std::string hex(std::uint64_t v) {
        char s[24];
        std::snprintf(s, sizeof s, "0x%llX", static_cast<unsigned long long>(v));
        return s;
    }
    void add(const char* name, std::uint64_t v) { text_ += std::string(name) + "=" + hex(v) + " "; }
    std::string text_;
    std::string failed_;
};

} // namespace

// Cards of every kind a user brings, the write-protected one among them.
CardSessions::CardSessions()
    : rotation_{sim::cards::standard1Gb(), sim::cards::high8Gb(),   sim::cards::extended64Gb(),
                sim::cards::standard2Gb(), sim::cards::high32Gb(), sim::cards::standard1GbWriteProtected()},
      first_(rotation_.size()) {}

bool CardSessions::run(std::uint64_t i) {
    const sim::MemoryCard& c = card(i);
    Answers a;
    std::uint16_t drive = 0, cardStatus = 0;
    a.status("DDSysInit", DDSysInit());
    a.status("DDSysDrive", DDSysDrive(0, &drive));
    a.value("drive", drive);
    a.status("DDChkSDCard", DDChkSDCard(drive, &cardStatus));
    a.value("cardStatus", cardStatus);

    std::uint32_t sectors = 0, erasesize = 0, capacityClass = 0;
    std::uint16_t cylinders = 0, heads = 0, bytesPerSector = 0, perTrack = 0, csize = 0;
    std::uint8_t readBlLen = 0, mult = 0, r1 = 0, r2 = 0;
    a.status("DDIdentify", DDIdentify(&sectors, &erasesize, &cylinders, &heads, &bytesPerSector, &perTrack, &readBlLen,
                                      &csize, &mult, &r1, &r2));
    for (auto [name, v] : {std::pair<const char*, std::uint64_t>{"noSectors", sectors},
                           {"erasesize", erasesize},
                           {"cylinders", cylinders},
                           {"noHeads", heads},
                           {"bytesPerSector", bytesPerSector},
                           {"sectorsPerTrack", perTrack},
                           {"readBlLen", readBlLen},
                           {"Csize", csize},
                           {"CsizeMult", mult}})
        a.value(name, v);
    a.status("DDSecureIdentify", DDSecureIdentify(&capacityClass));
    a.value("capacityClass", capacityClass);

    std::array<std::uint8_t, 8> mid{}, challenge{1, 2, 3, 4, 5, 6, 7, 8}, response{};
    a.status("DDGetMID", DDGetMID(mid.data()));
    a.bytes("mid", mid);
    a.status("DDSetChallenge", DDSetChallenge(challenge.data()));
    a.status("DDGetResponse", DDGetResponse(response.data()));
    a.bytes("response", response);

    std::array<std::uint8_t, kBlock> block{};
    a.status("DDReadMKB", DDReadMKB(block.data(), 1, 0, 0));
    a.bytes("mkb", block);
    a.status("DDReadPT", DDReadPT(block.data(), 1, 0));
    a.bytes("pt", block);
    a.status("DDWritePT", DDWritePT(block.data(), 1, 0),
             static_cast<std::uint32_t>(c.writeProtected() ? FERROCARD_E_WRITE_PROTECTED : FERROCARD_OK));
    a.status("DDFini", DDFini());
    a.status("DDSysFini", DDSysFini());

    ++sessions_;
    std::string& first = first_[i % rotation_.size()];
    bool same = a.failed().empty() && (first.empty() || first == a.text());
    if (first.empty() && a.failed().empty())
        first = a.text();
    if (same)
        ++exact_;
    else if (firstDifference_.empty())
        firstDifference_ = "session " + std::to_string(sessions_) + " with " + c.name + ": " +
                           (a.failed().empty() ? "answers differ from its first session's" : a.failed());
    return same;
}

} // namespace soak
