// The card's security commands: the media identifier, the challenge and
// response exchange, change-SA, the media key block and the secure and
// protected-area block transfers. The library moves these bytes and computes
// nothing on them.
#pragma once

#include <stdint.h>

namespace ferrocard {

// The six commands of one packet and at most 8 payload bytes; each answers a
// status code.
uint32_t getMediaId(uint8_t* mediaId);
uint32_t setChallenge(const uint8_t* challenge);
uint32_t getChallenge(uint8_t* challenge);
uint32_t setResponse(const uint8_t* response);
uint32_t getResponse(uint8_t* response);
uint32_t changeSecureArea();

uint32_t readMediaKeyBlock(uint8_t* destination, uint16_t count, uint8_t selector, uint16_t firstIndex);
uint32_t secureRead(uint8_t* destination, uint16_t count);
uint32_t secureWrite(const uint8_t* data, uint16_t count);
uint32_t readProtectedArea(uint8_t* destination, uint16_t count, uint32_t first);

} // namespace ferrocard
