// The simulated machine a card-library fuzz target runs on: the reader
// installed on the maker's driver with a memory card in it, and the library
// as at load. Nothing keeps a log of calls or requests (nobody reads them,
// and they cost); the library's trace is checked line by line instead.
#pragma once

#include "checks.h"

#include "Ferrocard.h"
#include "cardlib/state.h"
#include "platform/sim/card_reader.h"
#include "platform/sim/drive_letters.h"
#include "platform/sim/machine.h"

namespace fuzz {

// What the library's trace function may write at most.
constexpr std::size_t kTraceLineLimit = 511;

struct CardWorld {
    CardWorld() : reader(machine) {
        machine.records().setCallLogging(false);
        machine.records().setDebugKeeping(false);
        machine.records().setDebugSink([show = tracing()](const sim::DebugLine& line) {
            require(line.text.size() <= kTraceLineLimit, "a trace line too long");
            if (show)
                printTraceLine(line);
        });
        machine.files().setRequestKeeping(false);
        reader.install();
        reader.insert(sim::Card::Memory);
        ferrocard::resetLibraryState();
    }
    ~CardWorld() { ferrocard::resetLibraryState(); }

    // Everything the library may hold between calls: the controller handle.
    Counters idle() {
        Counters c = Counters::of(machine);
        c.handles = controllerOpen() ? 1 : 0;
        return c;
    }
    bool controllerOpen() const {
        HANDLE h = ferrocard::library().controller;
        return h && h != INVALID_HANDLE_VALUE;
    }

    sim::Machine machine;
    sim::CardReader reader;
};

} // namespace fuzz
