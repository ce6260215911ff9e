#include "platform/sim/faults.h"

namespace sim {

void Faults::failNth(const std::string& function, unsigned n, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[function] = Rule{n == 0 ? 1 : n, 1, 0, error};
}

void Faults::failNext(const std::string& function, unsigned count, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[function] = Rule{1, count == 0 ? 1 : count, 0, error};
}

void Faults::failAlways(const std::string& function, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[function] = Rule{1, 0, 0, error};
}

void Faults::clear(const std::string& function) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.erase(function);
}

void Faults::clearAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

unsigned Faults::calls(const std::string& function) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = calls_.find(function);
    return it == calls_.end() ? 0 : it->second;
}

std::optional<std::uint32_t> Faults::hit(const char* function) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_[function];
    auto it = rules_.find(function);
    if (it == rules_.end())
        return std::nullopt;
    Rule& rule = it->second;
    ++rule.seen;
    if (rule.seen < rule.first)
        return std::nullopt;
    std::uint32_t error = rule.error;
    if (rule.count != 0 && rule.seen + 1 >= rule.first + rule.count)
        rules_.erase(it); // spent
    return error;
}

} // namespace sim
