// DDChkSDCard and DDIdentify against a controller whose driver answers from
// the fuzzer's bytes: any CSD register, any answer (or none) to the
// write-protect and high-capacity queries, and so either capacity flag, in
// any order of calls. The drive is the reader's own, with a 1 GB card in it.
#include "support/card_answers.h"
#include "support/card_world.h"
#include "support/scripted_device.h"

#include <cstdint>

namespace {

constexpr std::uint16_t kKnownBits = FERROCARD_CARD_CHECKED | FERROCARD_CARD_WRITE_PROTECTED |
                                     FERROCARD_CARD_HIGH_CAPACITY | FERROCARD_CARD_EXTENDED_CAPACITY;
constexpr std::uint16_t kCapacityBits = FERROCARD_CARD_HIGH_CAPACITY | FERROCARD_CARD_EXTENDED_CAPACITY;
constexpr std::uint8_t kOtherDrive = 0xFF;

// The 22-bit C_SIZE of the high-capacity layout, plus one, is above 32 GB's.
bool aboveThirtyTwoGb(const std::uint8_t* r) {
    return ((((r[7] & 0x3Fu) << 16) | (r[8] << 8) | r[9]) + 1) > 0x10000;
}

void checkCard(fuzz::ByteSource& input) {
    const ferrocard::LibraryState& s = ferrocard::library();
    // Now and then a drive number other than the one DDSysDrive found.
    const std::uint16_t number = input.byte() == kOtherDrive ? s.driveId + 1 : s.driveId;
    std::uint16_t status = 0xA5A5;
    const std::uint32_t result = DDChkSDCard(number, &status);
    if (number != s.driveId) {
        fuzz::require(result == FERROCARD_E_BAD_DRIVE && status == 0xA5A5, "another drive is refused, untouched");
        return;
    }
    fuzz::require(result == FERROCARD_OK || result == FERROCARD_E_COMMAND_FAILED, "DDChkSDCard answers 0 or 0x12FF");
    fuzz::require((status & FERROCARD_CARD_CHECKED) && !(status & ~kKnownBits), "only the card status bits");
    fuzz::require(s.writeProtected <= 1 && s.highCapacity <= 1, "the flags are 0 or 1");
    fuzz::require(!(status & FERROCARD_CARD_WRITE_PROTECTED) || s.writeProtected == 1,
                  "a write-protected card's writes are refused");
    if (result == FERROCARD_E_COMMAND_FAILED) {
        // A question not answered refuses writes; a failed CSD read follows a
        // yes and sets no capacity bit.
        fuzz::require(s.writeProtected == 1 || (s.highCapacity == 1 && !(status & kCapacityBits)),
                      "a failed question, or a failed CSD read after a yes");
        return;
    }
    fuzz::require(((status & FERROCARD_CARD_WRITE_PROTECTED) != 0) == (s.writeProtected == 1),
                  "the write-protect bit is the flag");
    if (s.highCapacity) {
        const std::uint16_t expected =
            aboveThirtyTwoGb(s.drive.csd) ? FERROCARD_CARD_EXTENDED_CAPACITY : FERROCARD_CARD_HIGH_CAPACITY;
        fuzz::require((status & kCapacityBits) == expected, "one capacity bit, by C_SIZE");
    } else {
        fuzz::require(!(status & kCapacityBits), "no capacity bit for a standard card");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    fuzz::CardWorld world;
    world.machine.files().attach(world.reader.interfacePath(), std::make_shared<fuzz::ScriptedDevice>(input));
    DDSysInit(); // found either way; its second open may be refused
    std::uint16_t driveId = 0;
    fuzz::require(DDSysDrive(0, &driveId) == FERROCARD_OK, "the reader's drive is found");

    while (!input.empty()) {
        switch (input.choice(3)) {
        case 0:
            checkCard(input);
            break;
        case 1:
            fuzz::requireIdentityAnswers(fuzz::identify());
            break;
        default: {
            std::uint32_t capacityClass = 0xFFFFFFFF;
            fuzz::require(DDSecureIdentify(&capacityClass) == FERROCARD_OK &&
                              capacityClass == ferrocard::library().drive.capacityClass,
                          "DDSecureIdentify reports the class");
            break;
        }
        }
        fuzz::requireUnchanged(world.idle(), world.machine);
    }
    return 0;
}
