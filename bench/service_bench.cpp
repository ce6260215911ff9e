// What the service costs and how fast it reacts, measured in virtual time:
// the design's timing must come out with nothing added, and an idle service
// must not wake at all (the request filter waits without a time-out once
// nothing is pending). The
// real time each takes is what virtual time costs: the tests assert nothing
// about it, since a loaded machine may take any time at all.
#include "platform/sim/card_reader.h"
#include "platform/sim/resource_script.h"
#include "service/parameters.h"
#include "service/service.h"

#include <benchmark/benchmark.h>

namespace {

struct RunningService {
    sim::Machine machine;
    sim::CardReader reader{machine};
    RunningService() {
        sim::loadResourceScript(machine, CARDWELL_RC);
        SvcForgetProcessState();
        machine.records().setCallLogging(false);
        machine.records().setDebugKeeping(false);
        reader.install();
        SvcInit(0, 0);
        machine.advance(1000);
    }
    ~RunningService() {
        SvcStop();
        SvcCleanup();
    }
};

// From the driver's SDIO report to the device console's start: the quiet
// period of the request filter and nothing else.
void ReactionToSdioReport(benchmark::State& state) {
    double virtualMs = 0;
    for (auto _ : state) {
        RunningService s;
        auto reported = s.machine.now();
        s.reader.insert(sim::Card::Sdio);
        s.machine.advance(5000);
        auto runs = s.reader.devconCommands();
        virtualMs = runs.empty() ? -1.0 : static_cast<double>(runs[0].time - reported);
    }
    state.counters["virtual_ms_report_to_command"] = virtualMs;
}
BENCHMARK(ReactionToSdioReport)->Unit(benchmark::kMillisecond);

// From the card's removal to the device console's start back to the maker's
// driver: quiet period, the filter's SD-bus check, the operator's own.
void ReactionToCardRemoval(benchmark::State& state) {
    double virtualMs = 0;
    for (auto _ : state) {
        RunningService s;
        s.reader.insert(sim::Card::Sdio);
        s.machine.advance(15000);
        auto removed = s.machine.now();
        s.reader.remove();
        s.machine.advance(15000);
        auto runs = s.reader.devconCommands();
        virtualMs = runs.size() < 2 ? -1.0 : static_cast<double>(runs[1].time - removed);
    }
    state.counters["virtual_ms_removal_to_command"] = virtualMs;
}
BENCHMARK(ReactionToCardRemoval)->Unit(benchmark::kMillisecond);

// Wake-ups of the service's threads in an idle hour, and the real time an
// idle virtual hour costs.
void IdleHour(benchmark::State& state) {
    double wakeups = 0;
    for (auto _ : state) {
        RunningService s;
        auto before = s.machine.kernel().workerWakeups();
        s.machine.advance(3600 * 1000);
        wakeups = static_cast<double>(s.machine.kernel().workerWakeups() - before);
    }
    state.counters["wakeups_per_idle_hour"] = wakeups;
}
BENCHMARK(IdleHour)->Unit(benchmark::kMillisecond);

// A start, ten idle seconds and a stop: four threads, nine events, the
// half-second settle and the workers' ends.
void StartAndStop(benchmark::State& state) {
    for (auto _ : state) {
        sim::Machine machine;
        sim::loadResourceScript(machine, CARDWELL_RC);
        SvcForgetProcessState();
        sim::CardReader reader{machine};
        reader.install();
        SvcInit(0, 0);
        machine.advance(10000);
        SvcStop();
        SvcCleanup();
    }
}
BENCHMARK(StartAndStop)->Unit(benchmark::kMillisecond);

// The DriverSwitchFlag retry rule giving up: a hundred failed reads, two
// virtual seconds of pauses.
void SwitchFlagRetryGivingUp(benchmark::State& state) {
    for (auto _ : state) {
        sim::Machine machine;
        machine.registry().createKey(std::string("HKLM\\") + kParametersKey);
        DWORD flag = 0;
        benchmark::DoNotOptimize(switchFlagRetry([&] { return ReadDriverSwitchFlag(&flag); }));
    }
}
BENCHMARK(SwitchFlagRetryGivingUp)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
