#include "card_session.h"

#include "Ferrocard.h"
#include "report.h"
#include "statuses.h"

#include "platform/sim/card_catalogue.h"

#include <array>
#include <cstdio>

namespace demo {

namespace {

constexpr std::uint16_t kBlockBytes = 512;

// The application: each call on the timeline when it returns, with its
// status, what the status means, the values it gave back, and how long it
// took where it took virtual time.
class Application {
  public:
    Application(sim::Machine& m, const TimelineLine& line) : m_(m), line_(line) {}

    template <typename Call, typename Values> std::uint32_t call(const std::string& what, Call call, Values values) {
        const sim::VirtualTime start = m_.now();
        const std::uint32_t status = call();
        std::string text = what + " = " + ddtool::hex16(status) + " (" + ddtool::statusMeaning(status) + ")";
        if (status == FERROCARD_OK) {
            const std::string v = values();
            if (!v.empty())
                text += ": " + v;
        }
        if (const sim::VirtualTime took = m_.now() - start) {
            char after[48];
            std::snprintf(after, sizeof after, ", after %.1f s", took / 1000.0);
            text += after;
        }
        line_(m_.now(), "sd app", text);
        return status;
    }
    template <typename Call> std::uint32_t call(const std::string& what, Call call) {
        return this->call(what, call, [] { return std::string(); });
    }
    void say(const std::string& what) { line_(m_.now(), "sd app", what); }

  private:
    sim::Machine& m_;
    const TimelineLine& line_;
};

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    std::string s;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        s += two;
    }
    return s;
}

std::string cardStatusText(std::uint16_t status) {
    std::string bits;
    for (const auto& b : ddtool::cardStatusBits(status))
        bits += (bits.empty() ? "" : ", ") + b;
    return "cardStatus " + ddtool::hex16(status) + " (" + bits + ")";
}

// DDSysInit to DDIdentify and the capacity class: what the application
// learns of the card before it uses it.
void findTheCard(Application& app, std::uint16_t& drive) {
    app.call("DDSysInit()", [] { return DDSysInit(); });
    app.call(
        "DDSysDrive(0)", [&] { return DDSysDrive(0, &drive); },
        [&] { return "driveId " + std::to_string(drive) + " (" + std::string(1, char('A' + drive - 1)) + ":)"; });
    std::uint16_t status = 0;
    app.call(
        "DDChkSDCard(" + std::to_string(drive) + ")", [&] { return DDChkSDCard(drive, &status); },
        [&] { return cardStatusText(status); });
}

void identify(Application& app) {
    std::uint32_t sectors = 0, erasesize = 0, capacityClass = 0;
    std::uint16_t cylinders = 0, heads = 0, bytes = 0, perTrack = 0, csize = 0;
    std::uint8_t readBlLen = 0, mult = 0, r1 = 0, r2 = 0;
    app.call(
        "DDIdentify(...)",
        [&] {
            return DDIdentify(&sectors, &erasesize, &cylinders, &heads, &bytes, &perTrack, &readBlLen, &csize, &mult,
                              &r1, &r2);
        },
        [&] {
            return "noSectors " + std::to_string(sectors) + ", erasesize " + std::to_string(erasesize) +
                   ", cylinders " + std::to_string(cylinders) + ", noHeads " + std::to_string(heads) +
                   ", bytesPerSector " + std::to_string(bytes) + ", sectorsPerTrack " + std::to_string(perTrack) +
                   ", readBlLen " + std::to_string(readBlLen) + ", Csize " + std::to_string(csize) + ", CsizeMult " +
                   std::to_string(mult);
        });
    app.call(
        "DDSecureIdentify()", [&] { return DDSecureIdentify(&capacityClass); },
        [&] { return "capacity class " + std::to_string(capacityClass); });
}

void mediaId(Application& app) {
    std::array<std::uint8_t, 8> mid{};
    app.call(
        "DDGetMID()", [&] { return DDGetMID(mid.data()); }, [&] { return "media ID " + hex(mid.data(), mid.size()); });
}

} // namespace

void playCardSession(sim::Machine& m, sim::CardReader& r, const TimelineLine& line) {
    Application app(m, line);
    std::uint16_t drive = 0;
    std::array<std::uint8_t, kBlockBytes> block{};

    m.advance(2000);
    r.insertCard(sim::cards::high8Gb());
    m.advance(4000); // the service hears the new disk, and has nothing to switch
    app.say("starts its session with the card: SDHC, 8 GB");
    findTheCard(app, drive);
    identify(app);
    mediaId(app);
    app.call(
        "DDReadMKB(1 block, selector 0, from 0)", [&] { return DDReadMKB(block.data(), 1, 0, 0); },
        [&] { return "first bytes " + hex(block.data(), 4); });
    app.call(
        "DDReadPT(1 block, from 0)", [&] { return DDReadPT(block.data(), 1, 0); },
        [&] { return "first bytes " + hex(block.data(), 4); });

    // The user swaps the card for an SDIO card: Cardwell binds the standard
    // SD host driver, and the maker's controller goes with the maker's driver.
    m.advance(2000);
    r.remove();
    m.advance(10000);
    r.insert(sim::Card::Sdio);
    m.advance(8000);
    app.say("goes on with its session, on the controller handle it holds: the maker's driver is no longer behind it");
    mediaId(app); // ten attempts, 2 s apart
    app.call("DDSysDrive(0)", [&] { return DDSysDrive(0, &drive); });
    app.call("DDSysInit()", [] { return DDSysInit(); });

    // The SDIO card leaves; Cardwell gives the controller back to the maker's
    // driver, and the memory card goes in again.
    m.advance(2000);
    r.remove();
    m.advance(12000);
    r.insertCard(sim::cards::high8Gb());
    m.advance(4000);
    app.say("the controller is back on the maker's driver: starts again from DDSysInit");
    findTheCard(app, drive);
    mediaId(app);
    app.call("DDFini()", [] { return DDFini(); });
    app.call("DDSysFini()", [] { return DDSysFini(); });
    m.advance(2000);
}

} // namespace demo
