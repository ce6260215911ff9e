// The command transport: every card command travels to the maker's
// controller driver as one miniport request, a 28-byte header naming the
// command followed by its payload, sent and answered in the same buffer.
#pragma once

#include "platform/win32.h"

#include <stdint.h>

namespace ferrocard {

// The command codes of the maker's driver.
enum class Command : uint32_t {
    ReadCsd = 0xA000002C,            // 16 bytes: the CSD register
    ReadMkb = 0xA0000030,            // a 512-byte block of a media key block
    GetMid = 0xA0000034,             // 8 bytes: the media identifier
    QueryWriteProtect = 0xA0000038,  // 32-bit answer, 1 = write-protected
    SetChallenge = 0xA000003C,       // 8 bytes to the card
    GetChallenge = 0xA0000040,       // 8 bytes from the card
    GetResponse = 0xA0000044,        // 8 bytes from the card
    SetResponse = 0xA0000048,        // 8 bytes to the card
    ChangeSa = 0xA000004C,           // no payload
    SetAddress = 0xA0000050,         // start block and count for the data command after it
    ReadProtectedBlock = 0xA0000054, // one 512-byte block
    SecureRead = 0xA000005C,         // count x 512 bytes from the card
    SecureWrite = 0xA0000060,        // count x 512 bytes to the card
    QueryHighCapacity = 0xA0000068,  // 32-bit answer, 1 = high capacity
    Announce = 0xA00000CC,           // sent once when the controller is found
};

constexpr uint32_t kPacketHeaderSize = 28;
constexpr uint32_t kBlockSize = 512;
// Commands with at most 16 payload bytes use a packet of this size.
constexpr uint32_t kSmallPacketSize = 128;
// A packet for one block-data block.
constexpr uint32_t kBlockPacketSize = kPacketHeaderSize + kBlockSize;

inline uint8_t* payloadOf(uint8_t* packet) {
    return packet + kPacketHeaderSize;
}
void setPayloadLength(uint8_t* packet, uint32_t length);

// Sends `command` with the packet's payload and Length already in place;
// answers DeviceIoControl's result. On success the driver's reply has
// replaced the packet.
BOOL sendCommand(HANDLE handle, Command command, uint8_t* packet, DWORD* returned);

} // namespace ferrocard
