// The commands that talk to the card, each through one session with the
// library. Each answers false when a step failed (the report says which).
#pragma once

#include "command_line.h"
#include "host.h"
#include "report.h"
#include "session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ddtool {

bool info(Session& session, Report& report);
bool cardCsd(Session& session, Report& report);
bool mediaId(Session& session, Report& report);

// mkb, secure-read and read-pt: the blocks read land in `data`.
bool readBlocksFromCard(Host& host, Session& session, Report& report, const Invocation& inv,
                        std::vector<std::uint8_t>& data);
// secure-write and write-pt: `data` goes to the card.
bool writeBlocksToCard(Host& host, Session& session, Report& report, const Invocation& inv,
                       const std::vector<std::uint8_t>& data);

} // namespace ddtool
