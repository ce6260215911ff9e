// The soak: a laptop's long life on the simulated machine, measured from
// outside, in three parts, each on a machine of its own. What the machine and
// the process hold is counted at the start and at the end of each part; a
// part passes when nothing grew and every road, session and program start
// came out exactly as the first of its kind.
#pragma once

#include "platform/sim/card_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// What the simulated machine and the host process hold at one moment.
struct Counters {
    std::size_t handles = 0;
    std::size_t keys = 0;
    std::size_t deviceLists = 0;
    std::size_t heapBlocks = 0;
    std::size_t criticalSections = 0;
    std::size_t windows = 0;
    std::size_t trayIcons = 0;
    std::size_t threads = 0;     // simulated threads alive
    std::size_t hostThreads = 0; // host threads the machine holds
    long residentKiB = 0;        // the process's resident memory
    long mappings = 0;           // the process's memory mappings
};

Counters count(sim::Machine& m);

// Prints both columns; answers whether every count of the machine stayed as
// it was and the resident memory grew by no more than `rssTolerance` (a
// negative tolerance leaves the memory unjudged: a sanitizer's own
// bookkeeping grows with every allocation).
bool reportCounters(const Counters& start, const Counters& end, double rssTolerance);

// The SD application's session with Ferrocard on the card in the reader,
// from DDSysInit to DDSysFini. Each session with a card must give exactly
// the answers the first session with that card gave.
class CardSessions {
  public:
    CardSessions();
    // The cards a user brings, in turn.
    const sim::MemoryCard& card(std::uint64_t i) const { return rotation_[i % rotation_.size()]; }
    std::size_t rotationSize() const { return rotation_.size(); }
    // One session with card `i` of the rotation, already in the reader;
    // false when its answers differ from the first session's with that card.
    bool run(std::uint64_t i);

    std::uint64_t sessions() const { return sessions_; }
    std::uint64_t exact() const { return exact_; }
    const std::string& firstDifference() const { return firstDifference_; }

  private:
    std::vector<sim::MemoryCard> rotation_;
    std::vector<std::string> first_;
    std::uint64_t sessions_ = 0;
    std::uint64_t exact_ = 0;
    std::string firstDifference_;
};

// How long each part runs: a number of roads, or else a span of virtual
// time; a number of sessions; a number of program starts.
struct TrayOptions {
    unsigned roads = 0;                                 // 0: until `virtualMs` has passed
    std::uint64_t virtualMs = 7ull * 24 * 3600 * 1000; // a week
    double rssTolerance = 0.10;
};
struct CardOptions {
    unsigned sessions = 100000;
    double rssTolerance = 0.10;
};
struct ProgramOptions {
    unsigned starts = 100000;
    double rssTolerance = 0.10;
};

// The whole tray program on one machine; true when it passed.
bool trayWeek(const TrayOptions& options);
// Ferrocard alone on another machine, cards swapped between sessions.
bool ferrocardSessions(const CardOptions& options);
// The service starting the device-console tool over and over on one machine.
bool programStarts(const ProgramOptions& options);

} // namespace soak
