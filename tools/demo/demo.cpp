// The demo: Cardwell's service on a simulated machine, in virtual time, with
// a readable timeline of what it did.
#include "platform/sim/machine.h"
#include "service/parameters.h"
#include "service/service.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

const std::string kParams = std::string("HKLM\\") + kParametersKey;

struct Scenario {
    const char* name;
    const char* about;
    std::function<void(sim::Machine&)> prepare;
    sim::MachineOptions options;
};

void say(sim::Machine& m, const std::string& text) {
    std::printf("[%7llu ms] %s\n", static_cast<unsigned long long>(m.now()), text.c_str());
}

std::string valueText(sim::Machine& m, const char* name) {
    auto v = m.registry().dword(kParams, name);
    char buf[64];
    if (v)
        std::snprintf(buf, sizeof buf, "%s=0x%x", name, *v);
    else
        std::snprintf(buf, sizeof buf, "%s=(absent)", name);
    return buf;
}

std::string parameters(sim::Machine& m) {
    if (!m.registry().keyExists(kParams))
        return "parameters key: (absent)";
    return "parameters key: " + valueText(m, kValueIsSupportSDIO) + " " + valueText(m, kValueDeviceId) + " " +
           valueText(m, kValueDriverSwitchFlag) + " " + valueText(m, kValueIsSwitchingDrv) + " " +
           valueText(m, kValueIsSDIOPresent);
}

void run(const Scenario& s, bool showTrace) {
    sim::Machine m(s.options);
    SvcForgetProcessState();
    if (showTrace)
        m.records().setDebugSink([](const sim::DebugLine& line) {
            std::printf("[%7llu ms]     trace: %s\n", static_cast<unsigned long long>(line.time), line.text.c_str());
        });
    s.prepare(m);
    std::printf("Scenario \"%s\": %s\n", s.name, s.about);
    say(m, parameters(m));
    say(m, "tray calls SvcInit");
    SvcInit(0, 0);
    if (SvcIsRunning())
        say(m, "service running: " + std::to_string(m.threads() - 1) + " threads, " +
                   std::to_string(m.openHandles()) + " handles open");
    else
        say(m, "service not started; open handles " + std::to_string(m.openHandles()));
    m.advance(10000);
    say(m, "ten seconds later, the tray closes: SvcStop, SvcCleanup");
    SvcStop();
    SvcCleanup();
    m.advance(1);
    say(m, "stopped; open handles " + std::to_string(m.openHandles()) + ", keys " + std::to_string(m.openKeys()) +
               ", locks " + std::to_string(m.liveCriticalSections()) +
               (m.openHandles() ? " (the listener's request event lives until the process ends)" : ""));
    say(m, parameters(m));
}

const Scenario kScenarios[] = {
    {"start-stop", "the driver's installation asks for the service; it starts, idles and stops",
     [](sim::Machine& m) {
         m.registry().setDword(kParams, kValueIsSupportSDIO, 1);
         m.registry().setDword(kParams, kValueDeviceId, 0x1234);
     },
     {}},
    {"gate-closed", "IsSupportSDIO is absent: the service stays off and creates nothing",
     [](sim::Machine&) {}, {}},
    {"no-rights", "run without administrative rights: the key cannot be opened for writing",
     [](sim::Machine& m) {
         m.registry().setDword(kParams, kValueIsSupportSDIO, 1);
         m.registry().setDword(kParams, kValueDeviceId, 0x1234);
     },
     sim::MachineOptions{0, false}},
};

void usage() {
    std::printf("usage: cardwell_demo [--scenario NAME|all] [--no-trace]\nscenarios:\n");
    for (const auto& s : kScenarios)
        std::printf("  %-12s %s\n", s.name, s.about);
}

} // namespace

int main(int argc, char** argv) {
    std::string chosen = "start-stop";
    bool showTrace = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--scenario") && i + 1 < argc)
            chosen = argv[++i];
        else if (!std::strcmp(argv[i], "--no-trace"))
            showTrace = false;
        else {
            usage();
            return std::strcmp(argv[i], "--help") ? 2 : 0;
        }
    }
    auto realStart = std::chrono::steady_clock::now();
    bool found = false;
    for (const auto& s : kScenarios) {
        if (chosen == "all" || chosen == s.name) {
            run(s, showTrace);
            std::printf("\n");
            found = true;
        }
    }
    if (!found) {
        usage();
        return 2;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart);
    std::printf("(virtual time as shown; real time %lld ms)\n", static_cast<long long>(ms.count()));
    return 0;
}
