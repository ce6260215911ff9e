#include "platform/sim/heap.h"

#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

Heap::~Heap() {
    for (auto& [block, bytes] : blocks_)
        std::free(block);
}

LPVOID Heap::allocate(HANDLE heap, DWORD flags, SIZE_T bytes) {
    // No machine modelled here has more memory than this; a larger request
    // is refused as Windows refuses what the address space cannot hold.
    constexpr SIZE_T kLargestBlock = SIZE_T(1) << 40;
    if (heap != handle() || bytes > kLargestBlock)
        return nullptr;
    // A block of no bytes is still a distinct block.
    std::size_t real = bytes ? bytes : 1;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(real, 1) : std::malloc(real);
    if (!block)
        return nullptr; // HeapAlloc sets no error of its own
    if (!(flags & HEAP_ZERO_MEMORY))
        std::memset(block, kFill, real);
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[block] = bytes;
    return block;
}

BOOL Heap::free(HANDLE heap, DWORD flags, LPVOID block) {
    if (!block)
        return TRUE;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.find(block);
    if (heap != handle() || it == blocks_.end()) {
        // Windows corrupts its heap or raises here; a test must hear of it.
        std::fprintf(stderr, "sim: HeapFree of a block the heap never handed out (%p)\n", block);
        std::abort();
    }
    blocks_.erase(it);
    std::free(block);
    return TRUE;
}

std::size_t Heap::liveBlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.size();
}

std::size_t Heap::liveBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const auto& [block, bytes] : blocks_)
        n += bytes;
    return n;
}

} // namespace sim
