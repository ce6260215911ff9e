// Fault injection: make the n-th call, or every call, of a named platform
// function fail with a chosen error.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

class Faults {
public:
    // The n-th call (counting from now, first call = 1) of `function` fails.
    void failNth(const std::string& function, unsigned n, std::uint32_t error);
    // The next `count` calls of `function` fail.
    void failNext(const std::string& function, unsigned count, std::uint32_t error);
    // Every call of `function` from now on fails, until cleared.
    void failAlways(const std::string& function, std::uint32_t error);
    void clear(const std::string& function);
    void clearAll();

    // Calls of `function` seen since the machine started.
    unsigned calls(const std::string& function) const;

    // Called by each simulated function on entry: counts the call and answers
    // the error to fail it with, if a rule says so.
    std::optional<std::uint32_t> hit(const char* function);

private:
    // Calls first..first+count-1 after the rule was set fail; count 0: all
    // calls from `first` on.
    struct Rule {
        unsigned first = 1;
        unsigned count = 1;
        unsigned seen = 0;
        std::uint32_t error = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Rule> rules_;
    std::map<std::string, unsigned> calls_;
};

} // namespace sim
