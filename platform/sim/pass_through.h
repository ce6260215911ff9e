// SCSI pass-through records as the Windows port driver takes them: the checks
// it makes on a SCSI_PASS_THROUGH (data inside the system buffer, at
// DataBufferOffset) or a SCSI_PASS_THROUGH_DIRECT (data in the caller's memory,
// at DataBuffer) before a command reaches the device, and the way it hands the
// outcome back: ScsiStatus, the sense data, the bytes moved, and how many bytes
// of the system buffer return to the caller.
#pragma once

#include "platform/sim/files.h"

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

// Errors of the storage stack that the simulated platform's headers do not
// name, with their Win32 values.
namespace drive_error {
constexpr DWORD kArithmeticOverflow = 534;  // an offset plus a length wraps
constexpr DWORD kDeviceNotConnected = 1167; // no device answers at that SCSI address
constexpr DWORD kRevisionMismatch = 1306;   // a pass-through record whose Length is not its size
} // namespace drive_error

namespace scsi {

// Command operation codes the drives answer.
constexpr UCHAR kReadCapacity10 = 0x25;
constexpr UCHAR kWrite10 = 0x2A;

// Status bytes.
constexpr UCHAR kGood = 0x00;
constexpr UCHAR kCheckCondition = 0x02;

// Sense keys and additional sense codes of the conditions the drives report.
constexpr UCHAR kNotReady = 0x02;
constexpr UCHAR kHardwareError = 0x04;
constexpr UCHAR kIllegalRequest = 0x05;
constexpr UCHAR kDataProtect = 0x07;
constexpr UCHAR kAscInvalidOpcode = 0x20;
constexpr UCHAR kAscLbaOutOfRange = 0x21;
constexpr UCHAR kAscInvalidFieldInCdb = 0x24;
constexpr UCHAR kAscWriteProtected = 0x27;
constexpr UCHAR kAscMediumNotPresent = 0x3A;
constexpr UCHAR kAscInternalTargetFailure = 0x44;

// Fixed-format sense data, as much of it as the caller left room for.
constexpr DWORD kSenseBytes = 18;

// The port refuses time-outs outside 1 second to 30 hours.
constexpr DWORD kMinTimeOut = 1;
constexpr DWORD kMaxTimeOut = 30 * 60 * 60;

struct Sense {
    UCHAR key = 0;
    UCHAR asc = 0;
    UCHAR ascq = 0;
};

// A record that passed the port's checks.
struct Command {
    bool direct = false;
    UCHAR pathId = 0;
    UCHAR targetId = 0;
    UCHAR lun = 0;
    UCHAR dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    std::array<UCHAR, 16> cdb{};
    UCHAR cdbLength = 0;
    DWORD transferLength = 0;
    BYTE* data = nullptr; // transferLength bytes; null when there are none
    DWORD senseOffset = 0;
    UCHAR senseLength = 0;
    std::uint64_t dataOffset = 0; // buffered records only
    USHORT length = 0;            // the record's own Length
};

// What the device made of it.
struct Outcome {
    UCHAR scsiStatus = kGood;
    DWORD transferred = 0;
    std::optional<Sense> sense;

    static Outcome checkCondition(UCHAR key, UCHAR asc, UCHAR ascq = 0) {
        return Outcome{kCheckCondition, 0, Sense{key, asc, ascq}};
    }
};

// Checks the record at the start of the request's system buffer. Answers
// ERROR_SUCCESS and fills `command`, or answers the error Windows fails the
// request with.
DWORD takeCommand(const ControlRequest& request, bool direct, DWORD maxTransfer, Command* command);

// Writes ScsiStatus, the sense data, SenseInfoLength and DataTransferLength
// into the record; answers how many bytes of the system buffer go back.
DWORD complete(const ControlRequest& request, const Command& command, const Outcome& outcome);

} // namespace scsi
} // namespace sim
