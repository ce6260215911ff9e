#include "cardlib/card_checks.h"

#include "cardlib/bytes.h"
#include "cardlib/drive_probe.h"
#include "cardlib/identify.h"
#include "cardlib/state.h"
#include "cardlib/status.h"
#include "cardlib/transport.h"

namespace ferrocard {

namespace {

constexpr uint32_t kAnswerLength = 4;
constexpr uint32_t kYes = 1;
// The card status word's bits.
constexpr uint16_t kChecked = FERROCARD_CARD_CHECKED;
constexpr uint16_t kWriteProtectedBit = FERROCARD_CARD_WRITE_PROTECTED;
constexpr uint16_t kHighCapacityBit = FERROCARD_CARD_HIGH_CAPACITY;
constexpr uint16_t kExtendedCapacityBit = FERROCARD_CARD_EXTENDED_CAPACITY;
// C_SIZE + 1 above this is a card above 32 GB.
constexpr uint32_t kLargestHighCapacitySize = 0x10000;

enum class Answer { No, Yes, NotAsked };

// A yes only for an answer of exactly 1; a request that failed asked nothing.
Answer ask(Command query) {
    uint8_t packet[kSmallPacketSize] = {};
    setPayloadLength(packet, kAnswerLength);
    DWORD returned = 0;
    if (!sendCommand(library().controller, query, packet, &returned))
        return Answer::NotAsked;
    return loadLe32(payloadOf(packet)) == kYes ? Answer::Yes : Answer::No;
}

// C_SIZE of the high-capacity layout: register bits 69..48.
uint32_t highCapacityCsize(const uint8_t* csd) {
    return ((csd[7] & 0x3Fu) << 16) | (csd[8] << 8) | csd[9];
}

} // namespace

uint32_t findCardDrive(uint16_t driveIndex, uint16_t* driveId) {
    if (driveIndex != 0 || !driveId)
        return kBadDrive;
    // The lowest letter with the reader and a card in it wins.
    for (uint32_t n = kFirstCardDrive; n <= kLastDrive; ++n)
        if (probeDrive(library().drive, n)) {
            *driveId = static_cast<uint16_t>(n);
            library().driveId = static_cast<uint16_t>(n);
            return kOk;
        }
    return kNoCardDrive; // the drive ID stays what it was
}

uint32_t checkCard(uint16_t driveNumber, uint16_t* cardStatus) {
    LibraryState& s = library();
    if (!cardStatus || driveNumber != s.driveId)
        return kBadDrive;
    *cardStatus = kChecked;
    // Writes are refused until a check has had both questions answered: a
    // switch the card could not be asked about may be on. Both questions are
    // sent on every call, whatever the first answered or failed to, so that a
    // high-capacity answer still chooses how the CSD is read.
    s.writeProtected = 1;
    const Answer writeProtect = ask(Command::QueryWriteProtect);
    if (writeProtect == Answer::Yes)
        *cardStatus |= kWriteProtectedBit;
    const Answer highCapacity = ask(Command::QueryHighCapacity);
    if (highCapacity == Answer::NotAsked)
        return kCommandFailed; // the high-capacity flag keeps what the last answer said
    s.highCapacity = highCapacity == Answer::Yes;
    if (writeProtect != Answer::NotAsked)
        s.writeProtected = writeProtect == Answer::Yes;
    if (s.highCapacity) {
        if (!readCsd(s.drive.csd))
            return kCommandFailed;
        *cardStatus |=
            highCapacityCsize(s.drive.csd) + 1 > kLargestHighCapacitySize ? kExtendedCapacityBit : kHighCapacityBit;
    }
    return writeProtect == Answer::NotAsked ? kCommandFailed : kOk;
}

} // namespace ferrocard
