// The card's presence and what the controller tells of it: DDSysDrive, which
// finds the reader's drive, and DDChkSDCard, which turns the answers to the
// write-protect and high-capacity queries into the card status word and the
// library's two card flags.
#pragma once

#include <stdint.h>

namespace ferrocard {

// DDSysDrive: 0, the bad-drive status, or the no-card-drive status.
uint32_t findCardDrive(uint16_t driveIndex, uint16_t* driveId);

// DDChkSDCard: 0, the bad-drive status, or the command-failed status.
uint32_t checkCard(uint16_t driveNumber, uint16_t* cardStatus);

} // namespace ferrocard
