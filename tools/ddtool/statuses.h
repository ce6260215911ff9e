// The library's status codes and the card status word, in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ddtool {

// "success", "no controller found or opened", ...; "unknown status" for a
// code the library does not answer.
std::string statusMeaning(std::uint32_t status);

// DDChkSDCard's card status bits by name ("checked", "writeProtected",
// "highCapacity", "extendedCapacity"), and any unnamed bit as "0xNNNN".
std::vector<std::string> cardStatusBits(std::uint16_t status);

} // namespace ddtool
