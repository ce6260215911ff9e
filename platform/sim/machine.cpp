#include "platform/sim/machine.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
std::atomic<Machine*> gCurrent{nullptr};
}

Machine::Machine(MachineOptions options)
    : registry_(kernel_), devices_(kernel_), files_(kernel_), programs_(kernel_), windows_(kernel_), resources_(kernel_),
      notificationArea_(kernel_, windows_), system_(options.system) {
    Machine* expected = nullptr;
    if (!gCurrent.compare_exchange_strong(expected, this)) {
        std::fprintf(stderr, "sim: a second machine while one exists\n");
        std::abort();
    }
    kernel_.setTickStart(options.tickCountStart);
    kernel_.setThreadExitHook([this](DWORD thread) { windows_.threadEndedLocked(thread); });
    // Every change of the device tree reaches every top-level window, as the
    // platform's device-tree broadcast does.
    devices_.onChange([this] { windows_.broadcast(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0); });
    registry_.setAdministrator(options.administrator);
}

Machine::~Machine() {
    kernel_.shutdown();
    gCurrent = nullptr;
}

Machine& Machine::current() {
    Machine* m = gCurrent.load();
    if (!m) {
        std::fprintf(stderr, "sim: a platform call with no simulated machine\n");
        std::abort();
    }
    return *m;
}

bool Machine::exists() { return gCurrent.load() != nullptr; }

void Machine::advance(DWORD ms) { kernel_.sleep(ms); }

std::optional<std::uint32_t> Machine::enter(const char* function, std::string arguments) {
    SimThread* self = Kernel::self();
    records_.call(kernel_.now(), self ? self->id : 0, function, std::move(arguments));
    return faults_.hit(function);
}

} // namespace sim
