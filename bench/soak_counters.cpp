#include "soak.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace soak {

namespace {

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0)
            return std::stol(line.substr(n));
    return -1;
}

long mappingCount() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    long n = 0;
    while (std::getline(maps, line))
        ++n;
    return n;
}

} // namespace

Counters count(sim::Machine& m) {
    Counters c;
    c.handles = m.openHandles();
    c.keys = m.openKeys();
    c.deviceLists = m.openDeviceLists();
    c.heapBlocks = m.heapBlocks();
    c.criticalSections = m.liveCriticalSections();
    c.windows = m.windows().windows().size();
    c.trayIcons = m.notificationArea().icons().size();
    c.threads = m.threads();
    c.hostThreads = m.hostThreads();
    c.residentKiB = statusKiB("VmRSS:");
    c.mappings = mappingCount();
    return c;
}

bool reportCounters(const Counters& start, const Counters& end, double rssTolerance) {
    bool flat = true;
    auto row = [&](const char* what, std::size_t a, std::size_t b) {
        std::printf("  %-28s %10zu %10zu%s\n", what, a, b, a == b ? "" : "   GREW OR SHRANK");
        flat = flat && a == b;
    };
    std::printf("  %-28s %10s %10s\n", "", "start", "end");
    row("open handles", start.handles, end.handles);
    row("open registry keys", start.keys, end.keys);
    row("open device lists", start.deviceLists, end.deviceLists);
    row("heap blocks", start.heapBlocks, end.heapBlocks);
    row("critical sections", start.criticalSections, end.criticalSections);
    row("windows", start.windows, end.windows);
    row("tray icons", start.trayIcons, end.trayIcons);
    row("simulated threads", start.threads, end.threads);
    row("host threads held", start.hostThreads, end.hostThreads);
    const double growth =
        start.residentKiB > 0 ? static_cast<double>(end.residentKiB - start.residentKiB) / start.residentKiB : 0;
    const bool rssOk = rssTolerance < 0 || growth <= rssTolerance;
    std::printf("  %-28s %10ld %10ld   %+.1f %%%s\n", "resident memory (KiB)", start.residentKiB, end.residentKiB,
                100 * growth,
                rssTolerance < 0 ? " (not judged under a sanitizer)" : rssOk ? "" : "   ABOVE THE TOLERANCE");
    std::printf("  %-28s %10ld %10ld\n", "host memory mappings", start.mappings, end.mappings);
    return flat && rssOk;
}

} // namespace soak
