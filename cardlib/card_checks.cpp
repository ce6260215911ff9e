#include "cardlib/card_checks.h"

#include "cardlib/bytes.h"
#include "cardlib/state.h"
#include "cardlib/status.h"
#include "cardlib/transport.h"

#include <string.h>

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

// A yes only for a request that succeeded and an answer of exactly 1.
bool ask(Command query) {
    uint8_t packet[kSmallPacketSize] = {};
    setPayloadLength(packet, kAnswerLength);
    DWORD returned = 0;
    return sendCommand(library().controller, query, packet, &returned) && loadLe32(payloadOf(packet)) == kYes;
}

// C_SIZE of the high-capacity layout: register bits 69..48.
uint32_t highCapacityCsize(const uint8_t* csd) {
    return ((csd[7] & 0x3Fu) << 16) | (csd[8] << 8) | csd[9];
}

} // namespace

bool readCsd(uint8_t* csd) {
    uint8_t packet[kSmallPacketSize] = {};
    setPayloadLength(packet, kCsdSize);
    DWORD returned = 0;
    BOOL sent = sendCommand(library().controller, Command::ReadCsd, packet, &returned);
    memcpy(csd, payloadOf(packet), kCsdSize);
    return sent != FALSE;
}

uint32_t checkCard(uint16_t driveNumber, uint16_t* cardStatus) {
    LibraryState& s = library();
    if (!cardStatus || driveNumber != s.driveId)
        return kBadDrive;
    *cardStatus = kChecked;
    // Both questions are asked on every call, in this order.
    s.writeProtected = ask(Command::QueryWriteProtect);
    if (s.writeProtected)
        *cardStatus |= kWriteProtectedBit;
    s.highCapacity = ask(Command::QueryHighCapacity);
    if (!s.highCapacity)
        return kOk;
    if (!readCsd(s.drive.csd))
        return kCommandFailed;
    *cardStatus |=
        highCapacityCsize(s.drive.csd) + 1 > kLargestHighCapacitySize ? kExtendedCapacityBit : kHighCapacityBit;
    return kOk;
}

} // namespace ferrocard
