#include "platform/sim/records.h"

namespace sim {

void Records::call(std::uint64_t time, std::uint32_t thread, const char* function, std::string arguments) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (logging_)
        calls_.push_back(CallRecord{time, thread, function, std::move(arguments)});
}

void Records::debug(std::uint64_t time, std::uint32_t thread, std::string text) {
    std::function<void(const DebugLine&)> sink;
    DebugLine line{time, thread, std::move(text)};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (keepDebug_)
            debug_.push_back(line);
        sink = sink_;
    }
    if (sink)
        sink(line);
}

std::vector<CallRecord> Records::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<CallRecord> Records::calls(const std::string& function) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CallRecord> out;
    for (const auto& c : calls_)
        if (c.function == function)
            out.push_back(c);
    return out;
}

std::vector<DebugLine> Records::debugOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return debug_;
}

bool Records::traced(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& line : debug_)
        if (line.text.find(text) != std::string::npos)
            return true;
    return false;
}

void Records::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    debug_.clear();
}

void Records::setCallLogging(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    logging_ = on;
}

void Records::setDebugKeeping(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepDebug_ = on;
}

void Records::setDebugSink(std::function<void(const DebugLine&)> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

} // namespace sim
