// What the controller tells of the card itself: its CSD register and its
// answers to the write-protect and high-capacity queries; and DDChkSDCard,
// which turns those answers into the card status word and the library's two
// card flags.
#pragma once

#include <stdint.h>

namespace ferrocard {

constexpr uint32_t kCsdSize = 16;

// Reads the CSD register into `csd`; the 16 payload bytes are copied
// whatever the outcome (zeros unless the driver answered). True on success.
bool readCsd(uint8_t* csd);

// DDChkSDCard: 0, the bad-drive status, or the command-failed status.
uint32_t checkCard(uint16_t driveNumber, uint16_t* cardStatus);

} // namespace ferrocard
