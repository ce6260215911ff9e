// The whole tray program on one simulated machine for a long while: SDIO
// cards come and go (the road to the standard driver and back), memory cards
// with an SD application's session between them, device-change broadcasts
// that change nothing, the driver writing the values the service watches, a
// device-console run that fails now and then, and the taskbar starting
// again. The tick counter wraps half-way. Each road's timing must be exact:
// the tool starts 2000 ms after the driver's report, and 5400 ms after the
// card leaves.
#include "soak.h"

#include "cardlib/state.h"
#include "platform/sim/resource_script.h"
#include "service/parameters.h"
#include "service/service.h"
#include "shell/main_dialog.h"
#include "shell/single_instance.h"
#include "shell/tray_app.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace soak {

namespace {

// The design's timing: the request filter's quiet period; on the way back
// also its SD-bus check and the operator's own.
constexpr DWORD kToStandardMs = 2000;
constexpr DWORD kToMakerMs = 2000 + 1700 + 1700;
// What each step is given to settle, with room to spare: every road starts
// from a service with nothing pending.
constexpr DWORD kStartMs = 1000;
constexpr DWORD kInsertSettleMs = 15000;
constexpr DWORD kRemoveSettleMs = 20000;
constexpr DWORD kCardSettleMs = 6000;
constexpr int kBroadcastsPerRoad = 5;
constexpr DWORD kBroadcastGapMs = 300;
constexpr DWORD kBurstSettleMs = 6000;
constexpr DWORD kWriteSettleMs = 1000;
constexpr unsigned kSessionEvery = 3;  // a memory card after every third road
constexpr unsigned kTaskbarEvery = 10; // Explorer starts again
constexpr unsigned kFaultEvery = 25;   // the tool ends without rebinding
// A road's virtual length on average, to put the tick counter's wrap in the
// middle of a run of so many roads.
constexpr std::uint64_t kNominalRoadMs = kInsertSettleMs + kRemoveSettleMs + kBroadcastsPerRoad * kBroadcastGapMs +
                                         kBurstSettleMs + kWriteSettleMs + 2 * kCardSettleMs / kSessionEvery;
constexpr std::size_t kRecordsKept = 4;

const std::string kParams = std::string("HKLM\\") + kParametersKey;

DWORD WINAPI runTray(LPVOID) { return static_cast<DWORD>(CardwellMain(GetModuleHandleA(nullptr))); }

class Week {
  public:
    explicit Week(DWORD tickStart) : machine_(sim::MachineOptions{tickStart}), reader_(machine_) {
        sim::loadResourceScript(machine_, CARDWELL_RC);
        SvcForgetProcessState();
        SingleInstanceForgetProcessState();
        ferrocard::resetLibraryState();
        // Nobody reads the machine's records here: only the latest few are kept.
        machine_.records().setCallLogging(false);
        machine_.records().setDebugKeeping(false);
        machine_.files().setRequestKeeping(false);
        machine_.programs().keepRuns(kRecordsKept);
        reader_.keepDevconCommands(kRecordsKept);
        reader_.drive().keepWrites(kRecordsKept);
        machine_.windows().setDialogBoxShowsOnIdle(true);
        reader_.install();
        program_ = CreateThread(nullptr, 0, runTray, nullptr, 0, nullptr);
        machine_.advance(kStartMs);
    }
    ~Week() {
        if (program_)
            CloseHandle(program_);
        ferrocard::resetLibraryState();
    }

    bool up() { return program_ && SvcIsRunning() && icon(); }

    // Road `n`, with what comes after it; true when it came out exact.
    bool road(unsigned n) {
        const bool fault = n % kFaultEvery == kFaultEvery - 1;
        bool exact = sdioRoad(n, fault);
        if (n % kSessionEvery == 0)
            exact = memoryCard() && exact;
        exact = spuriousBroadcasts() && exact;
        exact = watchedValueWrites() && exact;
        if (n % kTaskbarEvery == 0)
            exact = taskbarRestart() && exact;
        return exact;
    }

    // Exit, as the user chooses it: the program ends and takes the service
    // with it, leaving no key or device list open.
    bool exit() {
        HWND main = machine_.windows().findByCaption("Cardwell");
        if (!main || !PostMessageA(main, WM_CLOSE, 0, 0))
            return false;
        const bool ended = WaitForSingleObject(program_, 2 * kCleanupWaitMs) == WAIT_OBJECT_0;
        return ended && !SvcIsRunning() && machine_.openKeys() == 0 && machine_.openDeviceLists() == 0 &&
               machine_.notificationArea().icons().empty();
    }

    sim::Machine& machine() { return machine_; }
    const CardSessions& sessions() const { return sessions_; }
    unsigned faults() const { return faults_; }
    unsigned broadcasts() const { return broadcasts_; }
    unsigned valueWrites() const { return valueWrites_; }
    unsigned taskbarRestarts() const { return taskbarRestarts_; }
    std::uint64_t toolRuns() { return reader_.devconCommandCount(); }
    const std::string& firstDifference() const { return firstDifference_; }

  private:
    std::optional<DWORD> value(const char* name) { return machine_.registry().dword(kParams, name); }
    bool icon() {
        HWND main = machine_.windows().findByCaption("Cardwell");
        return main && machine_.notificationArea().icon(main, kTrayIconId).has_value();
    }
    bool note(bool ok, unsigned n, const char* what) {
        if (!ok && firstDifference_.empty())
            firstDifference_ = "road " + std::to_string(n) + ": " + what;
        return ok;
    }
    // The tool's latest command, which must be the `count`-th and start at `at`.
    bool commandAt(std::uint64_t count, sim::VirtualTime at, const char* inf) {
        auto commands = reader_.devconCommands();
        return reader_.devconCommandCount() == count && !commands.empty() && commands.back().time == at &&
               commands.back().parameters.find(inf) != std::string::npos;
    }

    // The SDIO card's road: the driver reports it, the service binds the
    // standard driver; the card leaves, the service binds the maker's again.
    // With a faulty tool the first switch does nothing and the service
    // stays with the maker's driver.
    bool sdioRoad(unsigned n, bool fault) {
        const std::uint64_t before = reader_.devconCommandCount();
        if (fault) {
            ++faults_;
            reader_.setDevconMode(sim::DevconMode::EndsWithoutRebinding);
        }
        const sim::VirtualTime inserted = machine_.now();
        reader_.insert(sim::Card::Sdio);
        machine_.advance(kInsertSettleMs);
        bool exact = note(commandAt(before + 1, inserted + kToStandardMs, "\\inf\\sdbus.inf"), n,
                          "the tool did not start 2000 ms after the report");
        exact = note(value(kValueIsSDIOPresent) == 0u, n, "the report was not consumed") && exact;
        exact = note(reader_.binding() == (fault ? sim::Binding::Maker : sim::Binding::Standard), n,
                     "the controller is not on the driver expected after the report") &&
                exact;
        exact = note(value(kValueDriverSwitchFlag) == (fault ? 0u : 1u), n, "DriverSwitchFlag after the report") && exact;
        if (fault)
            reader_.setDevconMode(sim::DevconMode::Rebinds);

        const sim::VirtualTime removed = machine_.now();
        reader_.remove();
        machine_.advance(kRemoveSettleMs);
        if (fault)
            exact = note(reader_.devconCommandCount() == before + 1, n, "a tool run after a failed switch") && exact;
        else
            exact = note(commandAt(before + 2, removed + kToMakerMs, "\\inf\\hxsdc\\"), n,
                         "the tool did not start 5400 ms after the card left") &&
                    exact;
        exact = note(reader_.binding() == sim::Binding::Maker, n, "the controller is not back on the maker's driver") &&
                exact;
        return note(value(kValueDriverSwitchFlag) == 0u, n, "DriverSwitchFlag after the card left") && exact;
    }

    // A memory card: the device tree changes, the service has nothing to
    // switch; an SD application runs its session with Ferrocard.
    bool memoryCard() {
        const std::uint64_t before = reader_.devconCommandCount();
        const std::uint64_t i = sessions_.sessions();
        reader_.insertCard(sessions_.card(i));
        machine_.advance(kCardSettleMs);
        bool exact = sessions_.run(i);
        reader_.remove();
        machine_.advance(kCardSettleMs);
        if (!exact && firstDifference_.empty())
            firstDifference_ = sessions_.firstDifference();
        return exact && reader_.devconCommandCount() == before;
    }

    // Device-tree changes with nothing to do: one evaluation, no command.
    bool spuriousBroadcasts() {
        const std::uint64_t before = reader_.devconCommandCount();
        for (int i = 0; i < kBroadcastsPerRoad; ++i) {
            machine_.windows().broadcast(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
            ++broadcasts_;
            machine_.advance(kBroadcastGapMs);
        }
        machine_.advance(kBurstSettleMs);
        return reader_.devconCommandCount() == before && reader_.binding() == sim::Binding::Maker;
    }

    // The driver writes the values the registry monitor watches, without a
    // report: the monitor wakes, finds nothing, and asks again.
    bool watchedValueWrites() {
        const std::uint64_t before = reader_.devconCommandCount();
        machine_.registry().setDword(kParams, kValueIsSupportSDIO, 1);
        machine_.registry().setDword(kParams, kValueDeviceId, 0x1234);
        machine_.registry().setDword(kParams, kValueIsSDIOPresent, 0);
        valueWrites_ += 3;
        machine_.advance(kWriteSettleMs);
        return reader_.devconCommandCount() == before;
    }

    // Explorer starts again: the icon must come back.
    bool taskbarRestart() {
        machine_.notificationArea().recreate();
        ++taskbarRestarts_;
        machine_.advance(10);
        return icon() && machine_.notificationArea().icons().size() == 1;
    }

    sim::Machine machine_;
    sim::CardReader reader_;
    HANDLE program_ = nullptr;
    CardSessions sessions_;
    unsigned faults_ = 0;
    unsigned broadcasts_ = 0;
    unsigned valueWrites_ = 0;
    unsigned taskbarRestarts_ = 0;
    std::string firstDifference_;
};

} // namespace

bool trayWeek(const TrayOptions& o) {
    const auto realStart = std::chrono::steady_clock::now();
    const std::uint64_t expectedMs = o.roads ? o.roads * kNominalRoadMs : o.virtualMs;
    // The tick counter wraps half-way through.
    const DWORD tickStart = static_cast<DWORD>(0x100000000ull - (expectedMs / 2) % 0x100000000ull);
    Week week(tickStart);
    std::printf("The tray program on one simulated machine: SDIO roads, memory-card sessions, broadcasts,\n"
                "watched-value writes, a failing tool every %uth road, a taskbar restart every %uth\n",
                kFaultEvery, kTaskbarEvery);
    if (!week.up()) {
        std::printf("  the program did not come up with its service and icon\n");
        return false;
    }
    sim::Machine& m = week.machine();
    unsigned roads = 0, exact = 0, wrappedAt = 0;
    Counters start;
    const sim::VirtualTime begin = m.now();
    // The counters are taken after the first road, once everything a road
    // touches exists: the same moment of a road as at the end.
    for (;; ++roads) {
        if (o.roads ? roads >= o.roads : m.now() - begin >= o.virtualMs)
            break;
        const DWORD tickBefore = GetTickCount();
        exact += week.road(roads);
        if (GetTickCount() < tickBefore)
            wrappedAt = roads + 1;
        if (roads == 0)
            start = count(m);
    }
    const Counters end = count(m);
    const double days = static_cast<double>(m.now() - begin) / (24.0 * 3600 * 1000);
    const bool flat = reportCounters(start, end, o.rssTolerance);
    std::printf("  virtual time %.2f days; %u SDIO roads, %u with exact timing (%.1f %%), %u with a failing tool\n",
                days, roads, exact, roads ? 100.0 * exact / roads : 0.0, week.faults());
    std::printf("  %llu tool runs; %llu memory-card sessions (%llu exact); %u broadcasts; %u watched-value writes; "
                "%u taskbar restarts\n",
                static_cast<unsigned long long>(week.toolRuns()),
                static_cast<unsigned long long>(week.sessions().sessions()),
                static_cast<unsigned long long>(week.sessions().exact()), week.broadcasts(), week.valueWrites(),
                week.taskbarRestarts());
    std::printf("  the tick counter wrapped during road %u\n", wrappedAt);
    if (!week.firstDifference().empty())
        std::printf("  first difference: %s\n", week.firstDifference().c_str());
    const bool ended = week.exit();
    std::printf("  Exit: %s\n", ended ? "the program ended, its service stopped, nothing left open"
                                      : "the program did not end cleanly");
    std::printf("  real time %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count());
    return flat && roads > 0 && exact == roads && wrappedAt != 0 && ended;
}

} // namespace soak
