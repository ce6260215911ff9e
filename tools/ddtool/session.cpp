#include "session.h"

#include "statuses.h"

#include <string>

namespace ddtool {

namespace {

constexpr std::uint16_t kWriteProtectedBit = FERROCARD_CARD_WRITE_PROTECTED;
constexpr std::uint16_t kHighCapacityBit = FERROCARD_CARD_HIGH_CAPACITY;
constexpr std::uint16_t kExtendedCapacityBit = FERROCARD_CARD_EXTENDED_CAPACITY;

std::string joined(const std::vector<std::string>& names, const char* separator) {
    std::string text;
    for (const auto& n : names)
        text += (text.empty() ? "" : separator) + n;
    return text;
}

} // namespace

// The library's session ends so whatever happened: both calls change nothing
// and cannot fail, and an application that ends its session calls them.
Session::~Session() {
    if (started_) {
        lib_.fini();
        lib_.sysFini();
    }
}

bool Session::check(const char* step, std::uint32_t status) {
    if (status != FERROCARD_OK)
        report_.fail(step, status);
    return status == FERROCARD_OK;
}

bool Session::init(bool show) {
    started_ = true;
    const std::uint32_t status = lib_.sysInit();
    if (status == FERROCARD_OK && show)
        report_.number("sysinit", status, hex16(status), statusMeaning(status));
    return check("sysinit", status);
}

bool Session::findDrive(bool show) {
    std::uint16_t id = 0;
    if (!check("drive", lib_.sysDrive(0, &id)))
        return false;
    driveId_ = id;
    if (show) {
        // Drive numbers count from A = 1.
        const std::string letter(1, static_cast<char>('A' + id - 1));
        report_.raw("drive", letter + ": (" + std::to_string(id) + ")",
                    "{\"letter\": " + jsonString(letter) + ", \"number\": " + std::to_string(id) + "}");
    }
    return true;
}

bool Session::checkCard(bool show) {
    std::uint16_t status = 0;
    if (!check("cardStatus", lib_.checkCard(driveId_, &status)))
        return false;
    cardStatus_ = status;
    if (show) {
        const auto bits = cardStatusBits(status);
        std::string names;
        for (const auto& b : bits)
            names += (names.empty() ? "" : ", ") + jsonString(b);
        report_.raw("cardStatus", hex16(status) + " (" + joined(bits, ", ") + ")",
                    "{\"value\": " + std::to_string(status) + ", \"bits\": [" + names + "]}");
        report_.flag("writeProtected", status & kWriteProtectedBit);
        const bool extended = status & kExtendedCapacityBit;
        report_.flag("highCapacity", status & (kHighCapacityBit | kExtendedCapacityBit),
                     extended                      ? "above 32 GB"
                     : (status & kHighCapacityBit) ? "up to 32 GB"
                                                   : "");
    }
    return true;
}

bool Session::identify(Identity& id) {
    Identity got;
    const std::uint32_t status =
        lib_.identify(&got.noSectors, &got.erasesize, &got.cylinders, &got.noHeads, &got.bytesPerSector,
                      &got.sectorsPerTrack, &got.readBlLen, &got.Csize, &got.CsizeMult, &got.reserved1, &got.reserved2);
    // The library refuses a size it cannot read; above 32 GB that may be a
    // card READ CAPACITY(10) cannot describe.
    if (status == FERROCARD_E_COMMAND_FAILED && (cardStatus_ & kExtendedCapacityBit)) {
        report_.fail("identify", status, "the card is above 32 GB and may be " + std::string(kBeyondReadCapacity));
        return false;
    }
    if (!check("identify", status))
        return false;
    id = got;
    return true;
}

} // namespace ddtool
