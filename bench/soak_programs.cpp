// Program starts on one machine: a device sits on the SD bus while the
// maker's driver stays bound, and the device-console tool ends every time
// without rebinding. The service asks for the standard driver again at every
// evaluation, for as long as that lasts: one tool run every few seconds,
// each a program of the machine started, waited for and ended.
#include "soak.h"

#include "platform/sim/resource_script.h"
#include "service/service.h"

#include <chrono>
#include <cstdio>

namespace soak {

namespace {
constexpr DWORD kToolMs = 100;
constexpr DWORD kStepMs = 60000; // looked at once a virtual minute
// Enough to hold every run of a step.
constexpr std::size_t kRunsKept = 64;
// The counts halfway through the next run of the tool, while the service
// only waits for it: the same moment of the cycle for the start and the end,
// so that a device list the service holds between runs does not show as a
// change.
Counters countDuringARun(sim::Machine& m, sim::VirtualTime lastStart, sim::VirtualTime period) {
    if (period)
        m.advance(static_cast<DWORD>(period - (m.now() - lastStart) % period + kToolMs / 2));
    return count(m);
}

} // namespace

bool programStarts(const ProgramOptions& o) {
    const auto realStart = std::chrono::steady_clock::now();
    bool passed = false;
    {
        sim::Machine m;
        sim::loadResourceScript(m, CARDWELL_RC);
        SvcForgetProcessState();
        m.records().setCallLogging(false);
        m.records().setDebugKeeping(false);
        m.programs().keepRuns(kRunsKept);
        sim::CardReader reader(m);
        reader.keepDevconCommands(kRunsKept);
        reader.install();
        reader.setDevconDuration(kToolMs);
        reader.setDevconMode(sim::DevconMode::EndsWithoutRebinding);
        m.devices().add("SD\\VID_02D0&PID_4329\\9&1", std::string("SDIO Device"));
        std::printf("Program starts on one simulated machine: a device on the SD bus, a tool that never rebinds,\n"
                    "and the service running it again and again\n");
        SvcInit(0, 0);
        m.devices().announceChange();
        Counters start;
        const std::uint64_t startAt = o.starts / 10 + 1;
        sim::VirtualTime last = 0, period = 0;
        std::uint64_t runs = 0, regular = 0;
        while (runs < o.starts) {
            m.advance(kStepMs);
            // Every run starts the same time after the one before.
            for (const auto& c : reader.devconCommands()) {
                if (c.time <= last)
                    continue;
                if (last && !period)
                    period = c.time - last;
                regular += !last || c.time - last == period;
                last = c.time;
            }
            runs = reader.devconCommandCount();
            if (runs >= startAt && start.residentKiB == 0)
                start = countDuringARun(m, last, period);
        }
        const Counters end = countDuringARun(m, last, period);
        const bool flat = reportCounters(start, end, o.rssTolerance);
        std::printf("  %llu program starts in %.2f virtual days, %llu of them %llu ms after the one before (%.1f %%)\n",
                    static_cast<unsigned long long>(runs), static_cast<double>(m.now()) / (24.0 * 3600 * 1000),
                    static_cast<unsigned long long>(regular ? regular - 1 : 0),
                    static_cast<unsigned long long>(period), runs ? 100.0 * regular / runs : 0.0);
        SvcStop();
        SvcCleanup();
        passed = flat && runs >= o.starts && regular == runs && m.openKeys() == 0 && m.openDeviceLists() == 0;
    }
    std::printf("  real time %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count());
    return passed;
}

} // namespace soak
