// The simulated machine a service fuzz target runs on, with the service's
// process state as at load before and after. Nothing keeps a log of calls
// or trace lines: nobody reads them, and they cost.
#pragma once

#include "checks.h"

#include "platform/sim/machine.h"
#include "service/parameters.h"
#include "service/service.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

inline const std::string kParametersPath = std::string("HKLM\\") + kParametersKey;
inline const std::string kDriverServicePath = std::string("HKLM\\") + kDriverServiceKey;

struct ServiceWorld {
    explicit ServiceWorld(sim::MachineOptions options = {}) : machine(options) {
        machine.records().setCallLogging(false);
        machine.records().setDebugKeeping(false);
        traceToStandardError(machine);
        SvcForgetProcessState();
    }
    ~ServiceWorld() { SvcForgetProcessState(); }

    sim::Machine machine;
};

// A value of the parameters key as the service reads it: exactly four bytes,
// whatever the type; anything else is unreadable.
inline bool readable(const std::optional<sim::RegValue>& v) {
    return v && v->data.size() == 4;
}
inline std::uint32_t numberOf(const sim::RegValue& v) {
    return v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<std::uint32_t>(v.data[3]) << 24);
}

} // namespace fuzz
