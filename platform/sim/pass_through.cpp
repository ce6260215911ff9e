#include "platform/sim/pass_through.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace sim::scsi {

namespace {

constexpr std::uint64_t kUlongLimit = 0xFFFFFFFFull;

bool dataComesBack(UCHAR dataIn) {
    return dataIn == SCSI_IOCTL_DATA_IN || dataIn == SCSI_IOCTL_DATA_UNSPECIFIED;
}

bool dataGoesOut(UCHAR dataIn) {
    return dataIn == SCSI_IOCTL_DATA_OUT || dataIn == SCSI_IOCTL_DATA_UNSPECIFIED;
}

// Both records have the same fields at the same places; only the data field
// differs: an offset into the system buffer, or the caller's own pointer.
std::uint64_t dataField(const SCSI_PASS_THROUGH& r) {
    return r.DataBufferOffset;
}
BYTE* dataField(const SCSI_PASS_THROUGH_DIRECT& r) {
    return static_cast<BYTE*>(r.DataBuffer);
}

template <class Record> DWORD take(const ControlRequest& request, DWORD maxTransfer, Command* c) {
    constexpr bool direct = std::is_same<Record, SCSI_PASS_THROUGH_DIRECT>::value;
    if (request.inSize < sizeof(Record))
        return ERROR_INSUFFICIENT_BUFFER;
    Record r;
    std::memcpy(&r, request.buffer, sizeof r);
    if (r.Length != sizeof(Record))
        return drive_error::kRevisionMismatch;
    if (r.DataTransferLength > maxTransfer || r.TimeOutValue < kMinTimeOut || r.TimeOutValue > kMaxTimeOut ||
        r.CdbLength > sizeof r.Cdb || r.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED)
        return ERROR_INVALID_PARAMETER;

    std::uint64_t dataOffset = 0;
    if constexpr (!direct)
        dataOffset = dataField(r);
    if (r.SenseInfoLength) {
        // The sense area lies after the record, before the data, and inside
        // what comes back to the caller.
        const std::uint64_t senseEnd = static_cast<std::uint64_t>(r.SenseInfoOffset) + r.SenseInfoLength;
        if (senseEnd > kUlongLimit)
            return drive_error::kArithmeticOverflow;
        if (r.Length > r.SenseInfoOffset || senseEnd > request.outSize)
            return ERROR_INVALID_PARAMETER;
        if (!direct && r.DataTransferLength && senseEnd > dataOffset)
            return ERROR_INVALID_PARAMETER;
    }
    BYTE* data = nullptr;
    if constexpr (direct) {
        data = dataField(r);
        // The port locks the caller's pages; there are none at address 0.
        if (r.DataTransferLength && !data)
            return ERROR_NOACCESS;
    } else {
        if (dataOffset > UINT64_MAX - r.DataTransferLength)
            return drive_error::kArithmeticOverflow;
        const std::uint64_t dataEnd = dataOffset + r.DataTransferLength;
        if (r.DataTransferLength && r.Length > dataOffset)
            return ERROR_INVALID_PARAMETER;
        if ((dataComesBack(r.DataIn) && dataEnd > request.outSize) ||
            (dataGoesOut(r.DataIn) && dataEnd > request.inSize))
            return ERROR_INVALID_PARAMETER;
        if (r.DataTransferLength)
            data = request.buffer + dataOffset;
    }

    *c = Command{};
    c->direct = direct;
    c->pathId = r.PathId;
    c->targetId = r.TargetId;
    c->lun = r.Lun;
    c->dataIn = r.DataIn;
    std::copy(r.Cdb, r.Cdb + r.CdbLength, c->cdb.begin());
    c->cdbLength = r.CdbLength;
    c->transferLength = r.DataTransferLength;
    c->data = data;
    c->senseOffset = r.SenseInfoOffset;
    c->senseLength = r.SenseInfoLength;
    c->dataOffset = dataOffset;
    c->length = r.Length;
    return ERROR_SUCCESS;
}

template <class Record> DWORD finish(const ControlRequest& request, const Command& c, const Outcome& o) {
    BYTE* record = request.buffer;
    record[offsetof(Record, ScsiStatus)] = o.scsiStatus;
    UCHAR senseBack = 0;
    if (o.sense && c.senseLength) {
        BYTE sense[kSenseBytes] = {};
        sense[0] = 0x70; // current error, fixed format
        sense[2] = o.sense->key;
        sense[7] = kSenseBytes - 8; // additional sense length
        sense[12] = o.sense->asc;
        sense[13] = o.sense->ascq;
        senseBack = static_cast<UCHAR>(std::min<DWORD>(kSenseBytes, c.senseLength));
        std::memcpy(record + c.senseOffset, sense, senseBack);
    }
    record[offsetof(Record, SenseInfoLength)] = senseBack;
    const ULONG moved = o.transferred;
    std::memcpy(record + offsetof(Record, DataTransferLength), &moved, sizeof moved);

    if (!c.direct && c.dataIn == SCSI_IOCTL_DATA_IN && c.transferLength && c.dataOffset)
        return static_cast<DWORD>(c.dataOffset + o.transferred);
    if (senseBack)
        return c.senseOffset + senseBack;
    return c.length;
}

} // namespace

DWORD takeCommand(const ControlRequest& request, bool direct, DWORD maxTransfer, Command* command) {
    return direct ? take<SCSI_PASS_THROUGH_DIRECT>(request, maxTransfer, command)
                  : take<SCSI_PASS_THROUGH>(request, maxTransfer, command);
}

DWORD complete(const ControlRequest& request, const Command& command, const Outcome& outcome) {
    return command.direct ? finish<SCSI_PASS_THROUGH_DIRECT>(request, command, outcome)
                          : finish<SCSI_PASS_THROUGH>(request, command, outcome);
}

} // namespace sim::scsi
