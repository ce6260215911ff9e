// Ferrocard alone on a machine of its own: an SD application's sessions one
// after another, a different card in the reader for each.
#include "soak.h"

#include "cardlib/state.h"

#include <chrono>
#include <cstdio>

namespace soak {

bool ferrocardSessions(const CardOptions& o) {
    const auto realStart = std::chrono::steady_clock::now();
    ferrocard::resetLibraryState();
    bool passed = false;
    {
        sim::Machine m;
        m.records().setCallLogging(false);
        m.records().setDebugKeeping(false);
        m.files().setRequestKeeping(false);
        sim::CardReader reader(m);
        reader.drive().keepWrites(4);
        reader.install();
        std::printf("Ferrocard alone on another simulated machine: %u sessions, the card swapped for each\n",
                    o.sessions);
        CardSessions sessions;
        Counters start;
        for (unsigned i = 0; i < o.sessions; ++i) {
            reader.insertCard(sessions.card(i));
            sessions.run(i);
            reader.remove();
            // Taken once every card of the rotation has been in.
            if (i + 1 == sessions.rotationSize())
                start = count(m);
        }
        const Counters end = count(m);
        const bool flat = reportCounters(start, end, o.rssTolerance);
        std::printf("  %llu sessions, %llu with the answers of the first with their card (%.1f %%)\n",
                    static_cast<unsigned long long>(sessions.sessions()),
                    static_cast<unsigned long long>(sessions.exact()),
                    sessions.sessions() ? 100.0 * sessions.exact() / sessions.sessions() : 0.0);
        if (!sessions.firstDifference().empty())
            std::printf("  first difference: %s\n", sessions.firstDifference().c_str());
        passed = flat && o.sessions >= sessions.rotationSize() && sessions.exact() == sessions.sessions();
    }
    ferrocard::resetLibraryState();
    std::printf("  real time %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count());
    return passed;
}

} // namespace soak
