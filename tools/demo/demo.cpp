// The demo: Cardwell's driver-switch service on a simulated machine, in
// virtual time, with a timeline of what it does: the card, the registry
// handshake with the driver, the filter's commands, the device-console runs
// and the driver the controller ends up with; then the card's side, an SD
// application's session with Ferrocard while the service runs.
#include "card_session.h"
#include "cardlib/state.h"
#include "platform/sim/card_reader.h"
#include "platform/sim/resource_script.h"
#include "service/parameters.h"
#include "service/service.h"
#include "shell/main_dialog.h"
#include "shell/resource.h"
#include "shell/single_instance.h"
#include "shell/tray_app.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
    bool trace = false;
};

// Lines of the service's trace that mark a decision, as the timeline says them.
const std::map<std::string, std::pair<const char*, const char*>> kMilestones = {
    {"ThreadMonitorSDIORegister:Restore serivce register key value ok!",
     {"monitor", "consumed the driver's SDIO report; asks for the standard driver"}},
    {"ThreadRequestFilter: WAIT_TIMEOUT set ghChangeMicrosoftDriverEvent",
     {"filter", "quiet for 1.5 s: command \"bind the standard SD host driver\""}},
    {"ThreadRequestFilter: WAIT_TIMEOUT set ghChangeHXDriverEvent",
     {"filter", "quiet for 1.5 s after device changes: checking the SD bus"}},
    {"ThreadOperateDriver: WAIT_OBJECT_0 + 1 Event signaled!", {"operator", "takes \"bind the standard SD host driver\""}},
    {"ThreadOperateDriver: WAIT_OBJECT_0 + 2 Event signaled!", {"operator", "takes \"bind the maker's driver\""}},
    {"Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\* not exist!",
     {"sd bus", "settled empty (17 samples)"}},
    {"Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\*  exist!",
     {"sd bus", "holds a device"}},
    {"ThreadOperateDriver:Change driver ok!", {"operator", "switch done"}},
    {"ThreadOperateDriver:Change driver failed!", {"operator", "switch failed"}},
    {"ChangeDriver: UpdateDriver Failed", {"changer", "the device console could not be started"}},
    {"SvcInit: Not support SDIO, cound not start service.", {"service", "IsSupportSDIO is not 1: not started"}},
};

void line(sim::VirtualTime t, const char* who, const std::string& what) {
    std::printf("[%8.3f s] %-9s %s\n", static_cast<double>(t) / 1000.0, who, what.c_str());
}

struct Scenario {
    const char* name;
    const char* about;
    std::function<void(sim::Machine&, sim::CardReader&)> prepare;
    std::function<void(sim::Machine&, sim::CardReader&)> play;
    bool wholeProgram = false; // the tray program starts and ends the service
};

DWORD WINAPI runTray(LPVOID) { return static_cast<DWORD>(CardwellMain(GetModuleHandleA(nullptr))); }

HWND trayWindow(sim::Machine& m) { return m.windows().findByCaption("Cardwell"); }

// Cardwell.exe as a process of its own: its main thread runs the program.
HANDLE startTray(sim::Machine& m) {
    line(m.now(), "tray", "Cardwell.exe starts");
    m.windows().setDialogBoxShowsOnIdle(true);
    m.windows().setCursorPos(1210, 748);
    HANDLE program = CreateThread(nullptr, 0, runTray, nullptr, 0, nullptr);
    m.advance(1000);
    if (auto icon = m.notificationArea().icon(trayWindow(m), kTrayIconId))
        line(m.now(), "tray", "icon in the notification area, tip \"" + icon->tip + "\"; the main window stays hidden");
    return program;
}

// The user right-clicks the icon and chooses Exit.
void exitTray(sim::Machine& m, HANDLE program) {
    m.windows().setMenuChooser([&](const sim::PopupMenuShown& menu) -> UINT {
        line(m.now(), "tray", "menu at (" + std::to_string(menu.x) + ", " + std::to_string(menu.y) +
                                  "): Exit | About; the user chooses Exit");
        return ID_TRAY_EXIT;
    });
    m.notificationArea().mouse(trayWindow(m), kTrayIconId, WM_RBUTTONDOWN);
    WaitForSingleObject(program, INFINITE);
    CloseHandle(program);
    line(m.now(), "tray", m.notificationArea().icons().empty() ? "Cardwell.exe ended; its icon is gone"
                                                               : "Cardwell.exe ended; its icon is still there");
    m.windows().setMenuChooser(nullptr);
}

void run(const Scenario& s, const Options& o) {
    sim::Machine m;
    // The library as an application that starts now finds it.
    ferrocard::resetLibraryState();
    sim::loadResourceScript(m, CARDWELL_RC);
    SvcForgetProcessState();
    SingleInstanceForgetProcessState();
    sim::CardReader reader(m);
    reader.install(0x1234);
    std::printf("== %s: %s\n", s.name, s.about);
    s.prepare(m, reader);

    m.records().setDebugSink([&](const sim::DebugLine& l) {
        if (o.trace)
            line(l.time, "trace", l.text);
        auto it = kMilestones.find(l.text);
        if (it != kMilestones.end())
            line(l.time, it->second.first, it->second.second);
    });
    reader.onEvent([&](const std::string& what) { line(m.now(), "reader", what); });
    const std::string params = std::string("HKLM\\") + kParametersKey;
    m.registry().setValueWatcher([&](const std::string& key, const sim::RegValue& v, bool byProgram) {
        if (key != params || v.data.size() != 4)
            return;
        DWORD value = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<DWORD>(v.data[3]) << 24;
        line(m.kernel().nowLocked(), "registry",
             v.name + " = " + std::to_string(value) + (byProgram ? "  (by the service)" : "  (by the driver)"));
    });

    HANDLE program = nullptr;
    if (s.wholeProgram) {
        program = startTray(m);
    } else {
        line(m.now(), "tray", "starts the service");
        SvcInit(0, 0);
    }
    if (SvcIsRunning())
        line(m.now(), "service", "running: 4 threads, 9 events, 1 lock");
    s.play(m, reader);
    if (program) {
        exitTray(m, program);
    } else {
        line(m.now(), "tray", "Exit: stops the service");
        SvcStop();
        SvcCleanup();
    }
    m.advance(1);
    line(m.now(), "service", "stopped; " + std::to_string(m.openKeys()) + " keys, " +
                                 std::to_string(m.openDeviceLists()) + " device lists, " +
                                 std::to_string(m.liveCriticalSections()) + " locks left open");
    m.records().setDebugSink(nullptr);
    reader.onEvent(nullptr);
    m.registry().setValueWatcher(nullptr);
    ferrocard::resetLibraryState();
    std::printf("\n");
}

void nothing(sim::Machine&, sim::CardReader&) {}

// An SDIO card goes in, is used for a while, and comes out again.
void playSdioRoad(sim::Machine& m, sim::CardReader& r) {
    m.advance(2000);
    r.insert(sim::Card::Sdio);
    m.advance(15000);
    r.remove();
    m.advance(15000);
}

const Scenario kScenarios[] = {
    {"sdio", "an SDIO card goes in, is used, and comes out again", nothing,
     playSdioRoad},
    {"memory", "a memory card: the maker's driver keeps it, nothing switches", nothing,
     [](sim::Machine& m, sim::CardReader& r) {
         m.advance(2000);
         r.insert(sim::Card::Memory);
         m.advance(10000);
         r.remove();
         m.advance(10000);
     }},
    {"no-tool", "the device console is missing from the driver package",
     [](sim::Machine&, sim::CardReader& r) { r.setDevconMode(sim::DevconMode::Missing); },
     [](sim::Machine& m, sim::CardReader& r) {
         m.advance(2000);
         r.insert(sim::Card::Sdio);
         m.advance(15000);
     }},
    {"gate-closed", "IsSupportSDIO is 0: the service stays off",
     [](sim::Machine& m, sim::CardReader&) {
         m.registry().setDword(std::string("HKLM\\") + kParametersKey, kValueIsSupportSDIO, 0);
     },
     [](sim::Machine& m, sim::CardReader& r) {
         m.advance(2000);
         r.insert(sim::Card::Sdio);
         m.advance(10000);
     }},
    {"tray", "the whole tray program: its icon, an SDIO card's road, Exit from the tray menu", nothing,
     playSdioRoad,
     true},
    {"card", "an SD application's session with Ferrocard on a memory card, and Cardwell's switch under it", nothing,
     [](sim::Machine& m, sim::CardReader& r) { demo::playCardSession(m, r, line); }},
};

// Without --scenario: the SDIO card's road, then the card's side.
const std::vector<std::string> kDefaultScenarios = {"sdio", "card"};

void usage() {
    std::printf("usage: cardwell_demo [--scenario NAME|all] [--trace]\n"
                "  --trace   also print every line of the service's trace\n"
                "scenarios (without --scenario: sdio, then card):\n");
    for (const auto& s : kScenarios)
        std::printf("  %-12s %s\n", s.name, s.about);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> chosen = kDefaultScenarios;
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--scenario") && i + 1 < argc) {
            chosen = {argv[++i]};
        } else if (!std::strcmp(argv[i], "--trace")) {
            o.trace = true;
        } else {
            usage();
            return std::strcmp(argv[i], "--help") ? 2 : 0;
        }
    }
    auto realStart = std::chrono::steady_clock::now();
    bool found = false;
    for (const auto& name : chosen)
        for (const auto& s : kScenarios)
            if (name == "all" || name == s.name) {
                run(s, o);
                found = true;
            }
    if (!found) {
        usage();
        return 2;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    std::printf("(times are virtual; the run took %lld ms of real time)\n", static_cast<long long>(ms.count()));
    return 0;
}
