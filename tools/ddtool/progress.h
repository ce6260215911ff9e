// Progress of a long transfer on standard error, while it is a terminal:
// one line, rewritten as blocks go by, ended when the transfer is.
#pragma once

#include "host.h"

#include <cstdint>
#include <string>

namespace ddtool {

class Progress {
  public:
    // Transfers shorter than this finish before anyone would read a count.
    static constexpr std::uint32_t kLongTransferBlocks = 256;

    Progress(Host& host, std::string what, std::uint32_t blocks);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(std::uint32_t done);

  private:
    Host& host_;
    std::string what_;
    std::uint32_t blocks_;
    bool shown_;
};

} // namespace ddtool
