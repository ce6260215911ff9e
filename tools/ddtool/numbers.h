// Numbers and bytes as a command line gives them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ddtool {

// A whole unsigned number, decimal or 0x-prefixed hexadecimal, at most `max`.
std::optional<std::uint64_t> parseNumber(const std::string& text, std::uint64_t max);

// Hexadecimal digits, with an optional 0x prefix and ':', '-' or spaces
// between them, as bytes. Fails (with a reason) on anything else or on an
// odd number of digits.
bool parseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes, std::string& why);

// Bytes as upper-case hexadecimal digits, no separator.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);

} // namespace ddtool
