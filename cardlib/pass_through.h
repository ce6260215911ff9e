// What the library's two SCSI pass-through requests share: the reader's
// address on its port and the command block and sense sizes. Both requests
// are one buffer: the platform's structure, a 4-byte filler, a 32-byte sense
// area (and, for the buffered request, the data area).
#pragma once

#include "platform/win32.h"

namespace ferrocard {

constexpr UCHAR kReaderTargetId = 1; // path 0, target 1, LUN 0
constexpr UCHAR kCdbLength = 10;
constexpr UCHAR kSenseLength = 24;
constexpr size_t kSenseAreaSize = 32;

// Fills a zeroed SCSI_PASS_THROUGH or SCSI_PASS_THROUGH_DIRECT with what
// both requests carry, the sense area at `senseAt` from the buffer's start.
template <class Request> void addressReader(Request& r, ULONG senseAt) {
    r.Length = sizeof r;
    r.TargetId = kReaderTargetId;
    r.CdbLength = kCdbLength;
    r.SenseInfoLength = kSenseLength;
    r.SenseInfoOffset = senseAt;
}

} // namespace ferrocard
