#include "cardlib/transport.h"

#include "cardlib/bytes.h"

#include <stddef.h>

namespace ferrocard {

namespace {
// The header's fields, as the platform's SRB_IO_CONTROL lays them out.
constexpr uint32_t kHeaderLengthAt = 0;
constexpr uint32_t kSignatureAt = 4;
constexpr uint32_t kTimeoutAt = 12;
constexpr uint32_t kControlCodeAt = 16;
constexpr uint32_t kReturnCodeAt = 20;
constexpr uint32_t kLengthAt = 24;
constexpr uint32_t kTimeoutSeconds = 15;

static_assert(sizeof(SRB_IO_CONTROL) == kPacketHeaderSize, "the header is the platform's SRB_IO_CONTROL");
static_assert(offsetof(SRB_IO_CONTROL, Signature) == kSignatureAt && offsetof(SRB_IO_CONTROL, Timeout) == kTimeoutAt &&
                  offsetof(SRB_IO_CONTROL, ControlCode) == kControlCodeAt &&
                  offsetof(SRB_IO_CONTROL, ReturnCode) == kReturnCodeAt &&
                  offsetof(SRB_IO_CONTROL, Length) == kLengthAt,
              "SRB_IO_CONTROL's fields");
} // namespace

void setPayloadLength(uint8_t* packet, uint32_t length) {
    storeLe32(packet + kLengthAt, length);
}

BOOL sendCommand(HANDLE handle, Command command, uint8_t* packet, DWORD* returned) {
    storeLe32(packet + kControlCodeAt, static_cast<uint32_t>(command));
    storeLe32(packet + kReturnCodeAt, 0);
    // "HX"; the signature's other six bytes stay as the caller zeroed them.
    packet[kSignatureAt] = 'H';
    packet[kSignatureAt + 1] = 'X';
    storeLe32(packet + kHeaderLengthAt, kPacketHeaderSize);
    storeLe32(packet + kTimeoutAt, kTimeoutSeconds);
    const DWORD size = kPacketHeaderSize + loadLe32(packet + kLengthAt);
    return DeviceIoControl(handle, IOCTL_SCSI_MINIPORT, packet, size, packet, size, returned, NULL);
}

} // namespace ferrocard
