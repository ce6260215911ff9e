// The files ddtool reads blocks from and writes them to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ddtool {

// The whole of `path`, which must hold 1 to 65535 whole blocks of 512 bytes.
// False with a one-line reason otherwise.
bool readBlocks(const std::string& path, std::vector<std::uint8_t>& data, std::string& why);

// `data` as the whole of `path`, made or replaced. False with a reason.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& data, std::string& why);

} // namespace ddtool
