// The files ddtool reads blocks from and writes them to.
#pragma once

#include "file_system.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ddtool {

// The whole of `path` (of `standardInput` for -), which must hold 1 to 65535
// whole blocks of 512 bytes. False with a one-line reason otherwise.
bool readBlocks(const std::string& path, std::FILE* standardInput, std::vector<std::uint8_t>& data, std::string& why);

// Where a read's blocks go. Checked before the card is touched, filled in a
// temporary file beside it and given its name only when every block arrived:
// a failed or interrupted read leaves no partial file and an existing one as
// it was.
class OutputFile {
  public:
    // `path` may be made: a file there is replaced only with `force`, and
    // never a link, a folder or a device. Makes the temporary file.
    bool prepare(const std::string& path, bool force, std::string& why);
    // `data` as the whole of the file, under its name.
    bool commit(const std::vector<std::uint8_t>& data, std::string& why);
    // The temporary file's name, after prepare().
    const std::string& temporaryName() const { return file_.temporaryName(); }

  private:
    fs::NewFile file_; // removes a temporary file not committed
    bool force_ = false;
};

} // namespace ddtool
