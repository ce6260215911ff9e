// The maker's controller driver as the card library sees it: the storage-port
// device that takes miniport requests (a 28-byte header signed "HX" with a
// command code, then the payload) and answers them from a memory card model.
//
// Each command code can be made to misbehave: fail (n times, or always),
// succeed without touching the payload, or succeed with a nonzero ReturnCode.
#pragma once

#include "platform/sim/files.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

// The command codes the maker's driver answers.
namespace command {
constexpr std::uint32_t kReadCsd = 0xA000002C;
constexpr std::uint32_t kReadMkb = 0xA0000030;
constexpr std::uint32_t kGetMid = 0xA0000034;
constexpr std::uint32_t kQueryWriteProtect = 0xA0000038;
constexpr std::uint32_t kSetChallenge = 0xA000003C;
constexpr std::uint32_t kGetChallenge = 0xA0000040;
constexpr std::uint32_t kGetResponse = 0xA0000044;
constexpr std::uint32_t kSetResponse = 0xA0000048;
constexpr std::uint32_t kChangeSa = 0xA000004C;
constexpr std::uint32_t kSetAddress = 0xA0000050;
constexpr std::uint32_t kReadProtectedBlock = 0xA0000054;
constexpr std::uint32_t kSecureRead = 0xA000005C;
constexpr std::uint32_t kSecureWrite = 0xA0000060;
constexpr std::uint32_t kQueryHighCapacity = 0xA0000068;
constexpr std::uint32_t kAnnounce = 0xA00000CC;
} // namespace command

// What the card answers to the controller's commands.
struct CardRegisters {
    std::array<std::uint8_t, 16> csd{}; // byte 0 holds register bits 127..120
    std::array<std::uint8_t, 8> mediaId{};
    std::array<std::uint8_t, 8> challenge{}; // the card's own challenge
    std::array<std::uint8_t, 8> response{};  // the card's response
    std::uint32_t writeProtectAnswer = 0;    // 1: write-protected
    std::uint32_t highCapacityAnswer = 0;    // 1: a high-capacity card

    // The media key block and the protected area hold these bytes.
    static std::uint8_t mkbByte(std::uint8_t selector, std::uint16_t block, unsigned offset);
    static std::uint8_t protectedByte(std::uint32_t block, unsigned offset);
};

enum class CommandReply {
    Fails,             // the request fails
    LeavesPayload,     // succeeds, the packet comes back as it was sent
    NonzeroReturnCode, // answers, with ReturnCode 1
};

class SdController : public DeviceObject {
  public:
    static constexpr std::uint32_t kHeaderLength = 28;
    static constexpr DWORD kFailure = ERROR_IO_DEVICE; // what a failed command reports

    // The maker's driver runs (or not) and a memory card is in (or not).
    void setBound(bool bound);
    void setCardIn(bool in);
    void setRegisters(const CardRegisters& registers);
    CardRegisters registers() const;

    // After `skip` requests with `code` answered as usual, the next `times`
    // (every one, for 0) answer so.
    void setReply(std::uint32_t code, CommandReply reply, unsigned times = 0, DWORD error = kFailure,
                  unsigned skip = 0);
    void clearReplies();

    // What the host left on the card.
    std::vector<std::uint8_t> secureArea() const; // written by secure writes
    void setSecureArea(std::vector<std::uint8_t> bytes);
    std::array<std::uint8_t, 8> hostChallenge() const;
    std::array<std::uint8_t, 8> hostResponse() const;
    unsigned changeSaCount() const;

    DWORD open(DWORD access, DWORD share) override;
    ControlReply control(const ControlRequest& request) override;

  private:
    struct Rule {
        CommandReply reply;
        unsigned remaining; // 0: every request
        DWORD error;
        unsigned skip;
    };
    // Carries out one command on the payload; answers the error, if any.
    DWORD executeLocked(std::uint32_t code, BYTE* payload, std::uint32_t length);

    mutable std::mutex mutex_;
    bool bound_ = false;
    bool cardIn_ = false;
    CardRegisters registers_;
    std::map<std::uint32_t, Rule> rules_;
    std::vector<std::uint8_t> secureArea_;
    std::array<std::uint8_t, 8> hostChallenge_{};
    std::array<std::uint8_t, 8> hostResponse_{};
    unsigned changeSa_ = 0;
    bool addressSet_ = false;
    std::uint32_t address_ = 0;
    std::uint32_t addressCount_ = 0;
};

} // namespace sim
