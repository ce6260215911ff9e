// The CSD register in a report: every field of a register given whole, or
// the fields the library reports of the card's register.
#pragma once

#include "csd.h"
#include "report.h"
#include "session.h"

#include <cstdint>
#include <optional>

namespace ddtool {

// Every field of `csd`'s version, its capacity and whether its CRC7 holds.
void reportCsd(Report& report, const Csd& csd);

// What DDIdentify and DDChkSDCard tell of the card's register: the
// structure (from the high-capacity answer), READ_BL_LEN, C_SIZE,
// C_SIZE_MULT and SECTOR_SIZE, and the capacity they give where C_SIZE is
// known. The library hands out no more of it.
void reportLibraryCsd(Report& report, const Identity& id, std::uint16_t cardStatus);

// C_SIZE whole. Above 32 GB the library keeps only its low 16 bits; the
// drive's size then gives it, where it agrees with those bits.
std::optional<std::uint32_t> wholeCsize(const Identity& id, std::uint16_t cardStatus);

// "1011875840 bytes" with its size in binary units beside it.
std::string capacityNote(std::uint64_t bytes);

} // namespace ddtool
