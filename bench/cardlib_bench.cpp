// What the card library itself adds to a transfer, on the simulated machine:
// each measurement takes the export's time less the time spent inside the
// platform's calls (the simulated driver's copies, the I/O manager's
// buffering, the heap), so that what remains is the library's own work.
#include "Ferrocard.h"
#include "cardlib/state.h"
#include "platform/sim/card_reader.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBlock = 512;

double since(Clock::time_point t) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t).count();
}

struct CardMachine {
    sim::Machine machine;
    sim::CardReader reader{machine};
    CardMachine() {
        machine.records().setCallLogging(false);
        machine.records().setDebugKeeping(false);
        machine.files().setRequestKeeping(false);
        reader.install();
        reader.insert(sim::Card::Memory);
        ferrocard::resetLibraryState();
        DDSysInit();
    }
    ~CardMachine() { ferrocard::resetLibraryState(); }

    // Runs `call` and answers the real time it took outside the platform's
    // calls, in microseconds.
    template <class Call> double libraryMicroseconds(Call call) {
        const auto platform = machine.platformNanoseconds();
        const auto t = Clock::now();
        call();
        return since(t) - static_cast<double>(machine.platformNanoseconds() - platform) / 1000;
    }
};

// DDSecureRead of 65535 blocks (32 MiB) against one memcpy of as much.
void SecureReadAgainstOneMemcpy(benchmark::State& state) {
    CardMachine m;
    const uint16_t blocks = 65535;
    std::vector<uint8_t> source(blocks * size_t(kBlock), 0x5A), destination(source.size(), 1);
    double library = 0, copy = 0;
    for (auto _ : state) {
        library += m.libraryMicroseconds([&] {
            if (DDSecureRead(destination.data(), blocks) != 0)
                state.SkipWithError("DDSecureRead failed");
        });
        const auto t = Clock::now();
        std::memcpy(destination.data(), source.data(), source.size());
        benchmark::DoNotOptimize(destination.data());
        copy += since(t);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["library_ms"] = library / n / 1000;
    state.counters["memcpy_ms"] = copy / n / 1000;
    state.counters["library_per_memcpy"] = library / copy; // goal: at most 1.5
}
BENCHMARK(SecureReadAgainstOneMemcpy)->Unit(benchmark::kMillisecond)->Iterations(20);

// DDReadPT's own cost per block, beyond its two commands and its packet.
void ReadProtectedAreaPerBlock(benchmark::State& state) {
    CardMachine m;
    const uint16_t blocks = 4096;
    std::vector<uint8_t> destination(blocks * size_t(kBlock));
    double library = 0;
    for (auto _ : state)
        library += m.libraryMicroseconds([&] {
            if (DDReadPT(destination.data(), blocks, 0) != 0)
                state.SkipWithError("DDReadPT failed");
        });
    state.counters["library_us_per_block"] =
        library / static_cast<double>(state.iterations()) / blocks; // goal: at most 2
}
BENCHMARK(ReadProtectedAreaPerBlock)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
