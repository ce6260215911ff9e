// The drive probe, through DDSysDrive and DDIdentify, against a drive whose
// driver answers from the fuzzer's bytes: the whole storage-device
// descriptor, the READ CAPACITY data and the geometry, each with any byte
// count returned, or a failure. The controller is the reader's own, so a
// probe that passes goes on to the CSD read.
#include "support/card_answers.h"
#include "support/card_world.h"
#include "support/scripted_device.h"

#include <cstdint>

namespace {

constexpr std::uint32_t kOk = FERROCARD_OK;
constexpr std::uint32_t kNoCardDrive = FERROCARD_E_NO_CARD_DRIVE;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    fuzz::CardWorld world;
    // The scripted drive takes a letter of its own, from C (in place of the
    // system disk) to Z; the reader's drive leaves its letter to it.
    sim::removeDrive(world.machine, world.reader.driveLetter());
    const char letter = static_cast<char>('C' + input.choice(24));
    auto drive = std::make_shared<fuzz::ScriptedDevice>(input);
    world.machine.files().attach(sim::drivePath(letter), drive);
    fuzz::require(DDSysInit() == kOk, "the reader's controller is found");
    const std::uint16_t number = static_cast<std::uint16_t>(letter - 'A' + 1);

    std::uint16_t driveId = 0xBEEF;
    const std::uint32_t found = DDSysDrive(0, &driveId);
    fuzz::require(found == kOk || found == kNoCardDrive, "DDSysDrive answers 0 or 0x1002");
    fuzz::require(found == kOk ? driveId == number : driveId == 0xBEEF, "DDSysDrive's drive ID");
    std::uint32_t capacityClass = 0xFFFFFFFF;
    fuzz::require(DDSecureIdentify(&capacityClass) == kOk && fuzz::isCapacityClass(capacityClass),
                  "a capacity class of the table");

    // DDIdentify probes the drive DDSysDrive found; it is this one whether
    // or not the probe above passed.
    ferrocard::library().driveId = number;
    const fuzz::Identity identity = fuzz::identify();
    fuzz::requireIdentityAnswers(identity);
    if (identity.status == kOk)
        fuzz::require(ferrocard::library().drive.number == number, "the drive number is the probed drive's");
    fuzz::requireUnchanged(world.idle(), world.machine);
    return 0;
}
