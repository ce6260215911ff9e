// The card --sim CARD puts in the simulated reader: comma-separated keys
// csd=HEX (the register; it also sets the other keys' defaults: high
// capacity from CSD_STRUCTURE, write protection from its two write-protect
// bits, the last block and the geometry from its capacity), hc=0|1, wp=0|1,
// letter=X, geometry=C/T/S, lastlba=N, mid=HEX (8 bytes), each once and
// none contradicting the register, and fail=CODE, once per command the
// controller is to fail every time.
#pragma once

#include "platform/sim/card_catalogue.h"
#include "platform/sim/card_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ddtool {

struct SimCard {
    sim::MemoryCard card = sim::CardReader::defaultMemoryCard();
    char letter = sim::CardReader::kDefaultDriveLetter;
    std::vector<std::uint32_t> failing; // command codes
};

// False with a one-line reason when the text is not a card.
bool parseSimCard(const std::string& text, SimCard& card, std::string& why);

// What --sim takes, for `ddtool --sim help`: the keys and the command codes
// fail= names.
std::string simCardUsage();

// `card` as --sim text: every key, so that the card read back is the same card.
std::string simCardTextOf(const sim::MemoryCard& card, char letter = sim::CardReader::kDefaultDriveLetter);

} // namespace ddtool
