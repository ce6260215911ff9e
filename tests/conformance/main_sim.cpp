// The conformance run on the simulated machine: one machine lives around the
// whole run, and at the end it must be back where it started, with nothing the
// tests opened still open.
#include "harness.h"

#include "platform/sim/machine.h"

#include <string>

const char* conformance::platform_name() {
    return "sim";
}

int main(int argc, char** argv) {
    {
        sim::Machine machine;
        conformance::run(argc, argv);

        std::string open;
        for (const auto& kind : machine.openHandleKinds())
            open += " " + kind;
        ok(machine.openHandles() == 0 && machine.openKeys() == 0, "left open after the run:%s\n", open.c_str());
        ok(machine.threads() == 1, "%u simulated threads still running\n",
           static_cast<unsigned>(machine.threads() - 1));
        ok(machine.liveCriticalSections() == 0, "%u critical sections never deleted\n",
           static_cast<unsigned>(machine.liveCriticalSections()));
        ok(machine.deadlockReport().empty(), "%s\n", machine.deadlockReport().c_str());
    }
    return conformance::finish();
}
