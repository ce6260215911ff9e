// A driver whose every answer comes from the fuzzer's bytes. For each open
// and each request the input decides: whether it fails, which bytes the
// driver writes where into the system buffer, and how many bytes it says it
// returned, any count at all (the I/O manager copies back no more than the
// caller's output buffer holds). When the input runs out, requests fail.
//
// Per request: a reply byte (its value modulo 4: fails, fills the whole
// output, reports any count, reports what it wrote); for a failure one byte
// picking the error; otherwise the offset and the length of what it writes
// (two bytes each, little-endian, taken modulo what fits), the bytes, and for
// "any count" four bytes of count. Per open, unless the device always opens:
// one byte, 0xFF refuses it.
#pragma once

#include "byte_source.h"

#include "platform/sim/files.h"

namespace fuzz {

class ScriptedDevice : public sim::DeviceObject {
  public:
    enum class Opens { AsTheInputSays, Always };

    explicit ScriptedDevice(ByteSource& input, Opens opens = Opens::AsTheInputSays) : input_(input), opens_(opens) {}

    DWORD open(DWORD access, DWORD share) override;
    sim::ControlReply control(const sim::ControlRequest& request) override;

    // Requests that reached the driver so far.
    unsigned requests() const { return requests_; }

  private:
    ByteSource& input_;
    Opens opens_;
    unsigned requests_ = 0;
};

} // namespace fuzz
