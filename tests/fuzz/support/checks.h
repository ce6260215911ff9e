// What every fuzz target asserts besides the sanitizers: answers the
// documentation allows, and a machine that ends with what it started with.
#pragma once

#include "platform/sim/machine.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// A failed check is a crash to libFuzzer: it keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void require(bool ok, const char* what) {
    if (!ok)
        fail(what);
}

// With FUZZ_TRACE set in the environment, the machine's debug output (the
// deliverables' trace) goes to the standard error as it comes: what one
// replays a crashing input with.
inline bool tracing() {
    return std::getenv("FUZZ_TRACE") != nullptr;
}
inline void printTraceLine(const sim::DebugLine& line) {
    std::fprintf(stderr, "[%8llu ms] %s\n", static_cast<unsigned long long>(line.time), line.text.c_str());
}
inline void traceToStandardError(sim::Machine& m) {
    if (tracing())
        m.records().setDebugSink(printTraceLine);
}

// The machine's counters that show a leak.
struct Counters {
    std::size_t handles;
    std::size_t keys;
    std::size_t deviceLists;
    std::size_t heapBlocks;

    static Counters of(const sim::Machine& m) {
        return {m.openHandles(), m.openKeys(), m.openDeviceLists(), m.heapBlocks()};
    }
};

inline void requireUnchanged(const Counters& before, const sim::Machine& m) {
    const Counters now = Counters::of(m);
    require(now.handles == before.handles, "a handle was left open");
    require(now.keys == before.keys, "a registry key was left open");
    require(now.deviceLists == before.deviceLists, "a device list was left undestroyed");
    require(now.heapBlocks == before.heapBlocks, "a heap block was left allocated");
    require(m.deadlockReport().empty(), "the machine deadlocked");
}

} // namespace fuzz
