// What the simulated machine saw: platform calls with their arguments, and
// the debug output (where the service's trace goes).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

struct CallRecord {
    std::uint64_t time; // virtual milliseconds since the machine started
    std::uint32_t thread;
    std::string function;
    std::string arguments;
};

struct DebugLine {
    std::uint64_t time;
    std::uint32_t thread;
    std::string text;
};

class Records {
public:
    void call(std::uint64_t time, std::uint32_t thread, const char* function, std::string arguments);
    void debug(std::uint64_t time, std::uint32_t thread, std::string text);

    std::vector<CallRecord> calls() const;
    std::vector<CallRecord> calls(const std::string& function) const;
    std::vector<DebugLine> debugOutput() const;
    // True when some debug line contains `text`.
    bool traced(const std::string& text) const;
    void clear();

    // Keep the call log off for long runs (a burst of ten thousand broadcasts)
    // where nobody reads it.
    void setCallLogging(bool on);
    // Likewise for the debug output (a sink still sees every line).
    void setDebugKeeping(bool on);
    // Also hand each debug line to `sink` as it arrives (the demo prints them).
    void setDebugSink(std::function<void(const DebugLine&)> sink);

private:
    mutable std::mutex mutex_;
    bool logging_ = true;
    bool keepDebug_ = true;
    std::vector<CallRecord> calls_;
    std::vector<DebugLine> debug_;
    std::function<void(const DebugLine&)> sink_;
};

} // namespace sim
