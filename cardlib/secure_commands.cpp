#include "cardlib/secure_commands.h"

#include "cardlib/bytes.h"
#include "cardlib/state.h"
#include "cardlib/status.h"
#include "cardlib/transport.h"
#include "platform/scoped.h"

#include <string.h>

namespace ferrocard {

namespace {

constexpr uint32_t kShortPayload = 8;
// The identifier and each media key block are asked for up to this many
// times, with this pause after every failed attempt.
constexpr unsigned kPatientAttempts = 10;
constexpr DWORD kRetryPauseMs = 2000;
// The address-set command's packet: the header and 8 payload bytes.
constexpr uint32_t kAddressPacketSize = kPacketHeaderSize + 8;
// The last index a media key block's 16-bit index holds, and the last block
// the address-set command's 32-bit address names: a read that would go past
// either is refused, not wrapped round to block 0.
constexpr uint32_t kLastMkbIndex = 0xFFFF;
constexpr uint64_t kLastBlockAddress = 0xFFFFFFFF;

// Which way a short command's 8 payload bytes travel.
enum class Payload {
    None,     // change-SA: no payload
    ToCard,   // the caller's 8 bytes go out
    ToCaller, // the payload's 8 bytes come back to the caller, whatever the outcome
};

// How one of the six short commands differs from the others.
struct ShortCommand {
    Command command;
    Payload payload;
    unsigned attempts;
};

// `out` is read for a command to the card, `back` written for one to the
// caller; each is needed only then.
uint32_t shortCommand(const ShortCommand& c, const uint8_t* out, uint8_t* back) {
    // Refused before anything is sent: there is nowhere to take the 8 bytes
    // from or put them.
    if ((c.payload == Payload::ToCard && !out) || (c.payload == Payload::ToCaller && !back))
        return kCommandFailed;
    uint8_t packet[kSmallPacketSize] = {};
    BOOL sent = FALSE;
    for (unsigned attempt = 0; attempt < c.attempts && !sent; ++attempt) {
        memset(packet, 0, sizeof packet);
        setPayloadLength(packet, c.payload == Payload::None ? 0 : kShortPayload);
        if (c.payload == Payload::ToCard)
            memcpy(payloadOf(packet), out, kShortPayload);
        DWORD returned = 0;
        sent = sendCommand(library().controller, c.command, packet, &returned);
        if (!sent && c.attempts > 1)
            Sleep(kRetryPauseMs);
    }
    if (c.payload == Payload::ToCaller)
        memcpy(back, payloadOf(packet), kShortPayload);
    return sent ? kOk : kCommandFailed;
}

// The address-set command that always goes right before a block-data command.
bool setAddress(uint32_t start, uint32_t count) {
    uint8_t packet[kAddressPacketSize] = {};
    setPayloadLength(packet, 8);
    storeLe32(payloadOf(packet), start);
    storeLe32(payloadOf(packet) + 4, count);
    DWORD returned = 0;
    return sendCommand(library().controller, Command::SetAddress, packet, &returned) != FALSE;
}

// A heap packet of the header and `blocks` blocks, zeroed by the heap itself:
// a secure transfer of 65535 blocks then costs no second pass over 32 MiB.
uint8_t* blockPacket(ScopedHeapBlock& block, uint32_t blocks) {
    block.reset(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kPacketHeaderSize + blocks * kBlockSize));
    auto* packet = static_cast<uint8_t*>(block.get());
    if (packet)
        setPayloadLength(packet, blocks * kBlockSize);
    return packet;
}

// The secure area's transfers: all `count` blocks from its start with one
// pair of commands, the address-set command and the data command. A write
// reads `source`, a read fills `destination`; the other is null.
uint32_t secureTransfer(Command command, const uint8_t* source, uint8_t* destination, uint16_t count) {
    if (count && !source && !destination)
        return kCommandFailed;
    if (!setAddress(0, count))
        return kCommandFailed;
    ScopedHeapBlock block;
    uint8_t* packet = blockPacket(block, count);
    if (!packet)
        return kCommandFailed;
    const size_t bytes = count * size_t(kBlockSize);
    if (source && count)
        memcpy(payloadOf(packet), source, bytes);
    DWORD returned = 0;
    const BOOL sent = sendCommand(library().controller, command, packet, &returned);
    // A read hands over the payload whatever the outcome.
    if (destination && count)
        memcpy(destination, payloadOf(packet), bytes);
    return sent ? kOk : kCommandFailed;
}

} // namespace

uint32_t getMediaId(uint8_t* mediaId) {
    return shortCommand({Command::GetMid, Payload::ToCaller, kPatientAttempts}, NULL, mediaId);
}
uint32_t setChallenge(const uint8_t* challenge) {
    return shortCommand({Command::SetChallenge, Payload::ToCard, 1}, challenge, NULL);
}
uint32_t getChallenge(uint8_t* challenge) {
    return shortCommand({Command::GetChallenge, Payload::ToCaller, 1}, NULL, challenge);
}
uint32_t setResponse(const uint8_t* response) {
    return shortCommand({Command::SetResponse, Payload::ToCard, 1}, response, NULL);
}
uint32_t getResponse(uint8_t* response) {
    return shortCommand({Command::GetResponse, Payload::ToCaller, 1}, NULL, response);
}
uint32_t changeSecureArea() {
    return shortCommand({Command::ChangeSa, Payload::None, 1}, NULL, NULL);
}

uint32_t readMediaKeyBlock(uint8_t* destination, uint16_t count, uint8_t selector, uint16_t firstIndex) {
    if (count == 0)
        return kOk;
    if (!destination || uint32_t(firstIndex) + count - 1 > kLastMkbIndex)
        return kCommandFailed;
    for (uint32_t k = 0; k < count; ++k) {
        ScopedHeapBlock block;
        uint8_t* packet = blockPacket(block, 1);
        if (!packet)
            return kCommandFailed;
        // The request word: block index, selector, one block.
        const uint32_t word =
            static_cast<uint16_t>(firstIndex + k) | (static_cast<uint32_t>(selector) << 16) | (1u << 24);
        BOOL sent = FALSE;
        for (unsigned attempt = 0; attempt < kPatientAttempts && !sent; ++attempt) {
            memset(packet, 0, kBlockPacketSize);
            setPayloadLength(packet, kBlockSize);
            storeLe32(payloadOf(packet), word);
            DWORD returned = 0;
            sent = sendCommand(library().controller, Command::ReadMkb, packet, &returned);
            if (!sent)
                Sleep(kRetryPauseMs);
        }
        // The reply replaces the request word; a failed block gets the
        // payload as it stands.
        memcpy(destination + k * kBlockSize, payloadOf(packet), kBlockSize);
        if (!sent)
            return kCommandFailed;
    }
    return kOk;
}

uint32_t secureRead(uint8_t* destination, uint16_t count) {
    return secureTransfer(Command::SecureRead, NULL, destination, count);
}

uint32_t secureWrite(const uint8_t* data, uint16_t count) {
    if (library().writeProtected)
        return kWriteProtected;
    return secureTransfer(Command::SecureWrite, data, NULL, count);
}

uint32_t readProtectedArea(uint8_t* destination, uint16_t count, uint32_t first) {
    if (count == 0)
        return kOk;
    if (!destination || uint64_t(first) + count - 1 > kLastBlockAddress)
        return kCommandFailed;
    for (uint32_t k = 0; k < count; ++k) {
        if (!setAddress(first + k, 1))
            return kCommandFailed;
        ScopedHeapBlock block;
        uint8_t* packet = blockPacket(block, 1);
        if (!packet)
            return kCommandFailed;
        DWORD returned = 0;
        BOOL sent = sendCommand(library().controller, Command::ReadProtectedBlock, packet, &returned);
        memcpy(destination + k * kBlockSize, payloadOf(packet), kBlockSize);
        if (!sent)
            return kCommandFailed;
    }
    return kOk;
}

} // namespace ferrocard
