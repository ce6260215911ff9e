// The process heap: blocks handed out and given back are counted, so that a
// block never freed shows. Blocks asked for without HEAP_ZERO_MEMORY come
// filled with a pattern, as a debug heap fills them, so code that forgets to
// zero what it reads back shows too.
#pragma once

#include "platform/sim/win32_types.h"

#include <cstddef>
#include <map>
#include <mutex>

namespace sim {

class Heap {
  public:
    static constexpr BYTE kFill = 0xBA; // what a block not asked to be zeroed holds

    Heap() = default;
    ~Heap();
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // The process heap's handle.
    HANDLE handle() const { return const_cast<Heap*>(this); }

    // Win32 entry points
    LPVOID allocate(HANDLE heap, DWORD flags, SIZE_T bytes);
    BOOL free(HANDLE heap, DWORD flags, LPVOID block);

    std::size_t liveBlocks() const;
    std::size_t liveBytes() const;

  private:
    mutable std::mutex mutex_;
    std::map<void*, std::size_t> blocks_;
};

} // namespace sim
