#include "scripted_device.h"

#include "platform/win32.h"

#include <algorithm>
#include <cstring>

namespace fuzz {

namespace {

// Errors drivers and the I/O manager really answer; which one makes no
// difference to the library, but a variety keeps it honest.
constexpr DWORD kErrors[] = {ERROR_IO_DEVICE, ERROR_NOT_READY, ERROR_INVALID_PARAMETER, ERROR_GEN_FAILURE};
constexpr std::uint8_t kRefuseOpen = 0xFF;

enum Reply : unsigned {
    Fails,
    FillsWholeOutput,
    ReportsAnyCount,
    ReportsWritten,
    kReplyKinds,
};

} // namespace

DWORD ScriptedDevice::open(DWORD, DWORD) {
    if (opens_ == Opens::Always)
        return ERROR_SUCCESS;
    return input_.byte() == kRefuseOpen ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

sim::ControlReply ScriptedDevice::control(const sim::ControlRequest& request) {
    ++requests_;
    const auto reply = static_cast<Reply>(input_.byte() % kReplyKinds);
    if (reply == Fails)
        return {input_.pick(kErrors), 0};
    const std::size_t size = std::max(request.inSize, request.outSize);
    const std::size_t at = input_.upTo(size);
    const std::vector<std::uint8_t> written = input_.bytes(input_.upTo(size - at));
    if (!written.empty())
        std::memcpy(request.buffer + at, written.data(), written.size());
    switch (reply) {
    case FillsWholeOutput:
        return {ERROR_SUCCESS, request.outSize};
    case ReportsAnyCount:
        return {ERROR_SUCCESS, input_.u32()};
    default:
        return {ERROR_SUCCESS, static_cast<DWORD>(at + written.size())};
    }
}

} // namespace fuzz
