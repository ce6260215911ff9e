// A record the simulated machine keeps for tests to read back (programs run,
// commands a device received): every entry unless told otherwise, or only
// the latest few for a long run, whose memory must stay flat. Entries are
// counted either way. Its owner holds the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace sim {

template <class T> class KeptRecords {
  public:
    void push_back(T entry) {
        ++count_;
        if (limit_ == 0)
            return;
        entries_.push_back(std::move(entry));
        if (entries_.size() > limit_)
            entries_.pop_front();
    }
    // Keep only the latest `n` from now on (0: none).
    void keepLatest(std::size_t n) {
        limit_ = n;
        while (entries_.size() > limit_)
            entries_.pop_front();
    }
    std::vector<T> entries() const { return std::vector<T>(entries_.begin(), entries_.end()); }
    // Every entry ever added, kept or not.
    std::uint64_t count() const { return count_; }
    void clear() { entries_.clear(); }

  private:
    std::deque<T> entries_;
    std::size_t limit_ = std::numeric_limits<std::size_t>::max();
    std::uint64_t count_ = 0;
};

} // namespace sim
