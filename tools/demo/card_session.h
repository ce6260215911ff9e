// The card's side of the demo: an SD application's session with Ferrocard on
// a memory card, call by call, while Cardwell runs; and what becomes of that
// session when the user swaps the card for an SDIO card and Cardwell takes
// the controller away from the maker's driver, and when it gives it back.
#pragma once

#include "platform/sim/card_reader.h"
#include "platform/sim/machine.h"

#include <functional>
#include <string>

namespace demo {

// Prints one line of the timeline: when, who, what.
using TimelineLine = std::function<void(sim::VirtualTime, const char*, const std::string&)>;

void playCardSession(sim::Machine& m, sim::CardReader& r, const TimelineLine& line);

} // namespace demo
