#include "platform/sim/sd_controller.h"

#include "platform/win32.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

std::uint32_t le32(const BYTE* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void storeLe32(BYTE* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

constexpr BYTE kSignature[8] = {'H', 'X', 0, 0, 0, 0, 0, 0};
constexpr std::uint32_t kBlock = 512;
// The secure area of the cards modelled here; a transfer beyond it fails.
constexpr std::uint64_t kSecureAreaLimit = 64ull << 20;

} // namespace

std::uint8_t CardRegisters::mkbByte(std::uint8_t selector, std::uint16_t block, unsigned offset) {
    return static_cast<std::uint8_t>((block * 131u + selector * 17u + offset * 7u + (offset >> 8)) ^ 0x5A);
}

std::uint8_t CardRegisters::protectedByte(std::uint32_t block, unsigned offset) {
    return static_cast<std::uint8_t>((block * 29u) ^ (block >> 8) ^ (block >> 24) ^ (offset * 3u + 1));
}

void SdController::setBound(bool bound) {
    std::lock_guard<std::mutex> lock(mutex_);
    bound_ = bound;
}

void SdController::setCardIn(bool in) {
    std::lock_guard<std::mutex> lock(mutex_);
    cardIn_ = in;
    addressSet_ = false;
}

void SdController::setRegisters(const CardRegisters& registers) {
    std::lock_guard<std::mutex> lock(mutex_);
    registers_ = registers;
}

CardRegisters SdController::registers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registers_;
}

void SdController::setReply(std::uint32_t code, CommandReply reply, unsigned times, DWORD error, unsigned skip) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[code] = Rule{reply, times, error, skip};
}

void SdController::clearReplies() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

std::vector<std::uint8_t> SdController::secureArea() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return secureArea_;
}

void SdController::setSecureArea(std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    secureArea_ = std::move(bytes);
}

std::array<std::uint8_t, 8> SdController::hostChallenge() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hostChallenge_;
}

std::array<std::uint8_t, 8> SdController::hostResponse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hostResponse_;
}

unsigned SdController::changeSaCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changeSa_;
}

DWORD SdController::open(DWORD, DWORD) {
    std::lock_guard<std::mutex> lock(mutex_);
    return bound_ ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

ControlReply SdController::control(const ControlRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A handle opened while the maker's driver ran outlives it uselessly.
    if (!bound_)
        return {ERROR_DEV_NOT_EXIST, 0};
    if (request.code != IOCTL_SCSI_MINIPORT)
        return {ERROR_INVALID_FUNCTION, 0};
    if (request.inSize < kHeaderLength)
        return {ERROR_INVALID_PARAMETER, 0};
    BYTE* packet = request.buffer;
    const std::uint32_t code = le32(packet + 16);
    const std::uint64_t total = kHeaderLength + static_cast<std::uint64_t>(le32(packet + 24));
    if (le32(packet) != kHeaderLength || std::memcmp(packet + 4, kSignature, sizeof kSignature) != 0 ||
        total > request.inSize || total > request.outSize)
        return {ERROR_INVALID_PARAMETER, 0};
    const auto length = static_cast<std::uint32_t>(total - kHeaderLength);

    std::uint32_t returnCode = 0;
    auto rule = rules_.find(code);
    if (rule != rules_.end() && rule->second.skip) {
        --rule->second.skip;
        rule = rules_.end();
    }
    if (rule != rules_.end()) {
        Rule r = rule->second;
        if (r.remaining && --rule->second.remaining == 0)
            rules_.erase(rule);
        if (r.reply == CommandReply::Fails)
            return {r.error, 0};
        if (r.reply == CommandReply::LeavesPayload)
            return {ERROR_SUCCESS, static_cast<DWORD>(total)};
        returnCode = 1;
    }
    if (DWORD error = executeLocked(code, packet + kHeaderLength, length))
        return {error, 0};
    storeLe32(packet + 20, returnCode);
    return {ERROR_SUCCESS, static_cast<DWORD>(total)};
}

DWORD SdController::executeLocked(std::uint32_t code, BYTE* payload, std::uint32_t length) {
    if (code == command::kAnnounce)
        return ERROR_SUCCESS;
    if (!cardIn_)
        return ERROR_NOT_READY;
    auto copyOut = [&](const std::uint8_t* bytes, std::uint32_t n) -> DWORD {
        if (length < n)
            return ERROR_INVALID_PARAMETER;
        std::memcpy(payload, bytes, n);
        return ERROR_SUCCESS;
    };
    auto answer = [&](std::uint32_t value) -> DWORD {
        if (length < 4)
            return ERROR_INVALID_PARAMETER;
        storeLe32(payload, value);
        return ERROR_SUCCESS;
    };
    auto copyIn = [&](std::array<std::uint8_t, 8>& into) -> DWORD {
        if (length < into.size())
            return ERROR_INVALID_PARAMETER;
        std::memcpy(into.data(), payload, into.size());
        return ERROR_SUCCESS;
    };
    // A data command takes the address the command before it set, once.
    auto takeAddress = [&](std::uint64_t* offset) -> bool {
        if (!addressSet_ || length != static_cast<std::uint64_t>(addressCount_) * kBlock)
            return false;
        addressSet_ = false;
        *offset = static_cast<std::uint64_t>(address_) * kBlock;
        return true;
    };

    switch (code) {
    case command::kReadCsd:
        return copyOut(registers_.csd.data(), 16);
    case command::kGetMid:
        return copyOut(registers_.mediaId.data(), 8);
    case command::kGetChallenge:
        return copyOut(registers_.challenge.data(), 8);
    case command::kGetResponse:
        return copyOut(registers_.response.data(), 8);
    case command::kQueryWriteProtect:
        return answer(registers_.writeProtectAnswer);
    case command::kQueryHighCapacity:
        return answer(registers_.highCapacityAnswer);
    case command::kSetChallenge:
        return copyIn(hostChallenge_);
    case command::kSetResponse:
        return copyIn(hostResponse_);
    case command::kChangeSa:
        ++changeSa_;
        return ERROR_SUCCESS;
    case command::kSetAddress:
        if (length < 8)
            return ERROR_INVALID_PARAMETER;
        address_ = le32(payload);
        addressCount_ = le32(payload + 4);
        addressSet_ = true;
        return ERROR_SUCCESS;
    case command::kReadMkb: {
        // The request word: block index, selector, block count.
        if (length < 4)
            return ERROR_INVALID_PARAMETER;
        const std::uint32_t word = le32(payload);
        const std::uint32_t blocks = word >> 24;
        if (blocks == 0 || length < blocks * kBlock)
            return ERROR_INVALID_PARAMETER;
        for (std::uint32_t b = 0; b < blocks; ++b)
            for (unsigned i = 0; i < kBlock; ++i)
                payload[b * kBlock + i] = CardRegisters::mkbByte(static_cast<std::uint8_t>(word >> 16),
                                                                 static_cast<std::uint16_t>(word + b), i);
        return ERROR_SUCCESS;
    }
    case command::kReadProtectedBlock: {
        std::uint64_t offset;
        if (addressCount_ != 1 || !takeAddress(&offset))
            return kFailure;
        for (unsigned i = 0; i < kBlock; ++i)
            payload[i] = CardRegisters::protectedByte(static_cast<std::uint32_t>(offset / kBlock), i);
        return ERROR_SUCCESS;
    }
    case command::kSecureRead: {
        std::uint64_t offset;
        if (!takeAddress(&offset) || offset + length > kSecureAreaLimit)
            return kFailure;
        std::memset(payload, 0, length);
        if (offset < secureArea_.size())
            std::memcpy(payload, secureArea_.data() + offset,
                        std::min<std::uint64_t>(length, secureArea_.size() - offset));
        return ERROR_SUCCESS;
    }
    case command::kSecureWrite: {
        std::uint64_t offset;
        if (!takeAddress(&offset) || offset + length > kSecureAreaLimit)
            return kFailure;
        if (secureArea_.size() < offset + length)
            secureArea_.resize(offset + length);
        if (length)
            std::memcpy(secureArea_.data() + offset, payload, length);
        return ERROR_SUCCESS;
    }
    default:
        return kFailure;
    }
}

} // namespace sim
