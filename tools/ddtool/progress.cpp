#include "progress.h"

namespace ddtool {

Progress::Progress(Host& host, std::string what, std::uint32_t blocks)
    : host_(host), what_(std::move(what)), blocks_(blocks),
      shown_(host.showsProgress() && blocks >= kLongTransferBlocks) {
    update(0);
}

Progress::~Progress() {
    if (shown_)
        host_.progress("\n");
}

void Progress::update(std::uint32_t done) {
    if (!shown_)
        return;
    const unsigned percent = static_cast<unsigned>(100ull * done / blocks_);
    host_.progress("\r" + what_ + ": " + std::to_string(done) + " of " + std::to_string(blocks_) + " blocks (" +
                   std::to_string(percent) + "%)");
}

} // namespace ddtool
