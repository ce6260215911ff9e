// One session with the library in its usual order: DDSysInit, DDSysDrive,
// DDChkSDCard with the drive DDSysDrive reported, then what the command
// needs, and DDFini and DDSysFini at the end. Each step reports a failure
// under its own key and stops the command there.
#pragma once

#include "library.h"
#include "report.h"

#include <cstdint>

namespace ddtool {

// A card of 2^32 blocks or more: the library cannot learn its size.
constexpr const char* kBeyondReadCapacity = "a card of 2 TiB or more, whose size READ CAPACITY(10) cannot report";

// DDIdentify's eleven values.
struct Identity {
    std::uint32_t noSectors = 0, erasesize = 0;
    std::uint16_t cylinders = 0, noHeads = 0, bytesPerSector = 0, sectorsPerTrack = 0;
    std::uint8_t readBlLen = 0;
    std::uint16_t Csize = 0;
    std::uint8_t CsizeMult = 0, reserved1 = 0, reserved2 = 0;
};

class Session {
  public:
    Session(const Library& library, Report& report) : lib_(library), report_(report) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Each step answers whether it succeeded. `show`: report its values too
    // (a failure is always reported).
    bool init(bool show);
    bool findDrive(bool show);
    bool checkCard(bool show);
    bool identify(Identity& id);

    // The answer of a command's own call: true for success, else reported
    // under `step`.
    bool check(const char* step, std::uint32_t status);

    const Library& library() const { return lib_; }
    std::uint16_t driveId() const { return driveId_; }
    std::uint16_t cardStatus() const { return cardStatus_; }

  private:
    const Library& lib_;
    Report& report_;
    bool started_ = false;
    std::uint16_t driveId_ = 0;
    std::uint16_t cardStatus_ = 0;
};

} // namespace ddtool
