// soak: a laptop's long life, measured. With no arguments, a simulated week of
// the tray program, then 100,000 Ferrocard sessions, then 100,000 program
// starts (`make soak`); `--roads N --sessions M --starts K` runs a shorter
// version (the test). Exit code 0
// when nothing grew, every road kept its timing and every session its
// answers; 1 otherwise; 2 for a bad command line.
#include "soak.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A sanitizer's own bookkeeping grows the resident memory with every
// allocation: there it is reported, not judged.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

bool number(const char* text, unsigned* out) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (!text[0] || *end || v == 0 || v > 10000000ul)
        return false;
    *out = static_cast<unsigned>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    soak::TrayOptions tray;
    soak::CardOptions card;
    soak::ProgramOptions programs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--roads" && i + 1 < argc && number(argv[i + 1], &tray.roads)) {
            ++i;
        } else if (a == "--sessions" && i + 1 < argc && number(argv[i + 1], &card.sessions)) {
            ++i;
        } else if (a == "--starts" && i + 1 < argc && number(argv[i + 1], &programs.starts)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: soak [--roads N] [--sessions N] [--starts N]\n"
                                 "  without --roads the tray program runs for a simulated week\n");
            return 2;
        }
    }
    if (kSanitized)
        tray.rssTolerance = card.rssTolerance = programs.rssTolerance = -1;
    const bool trayPassed = soak::trayWeek(tray);
    std::printf("\n");
    const bool cardPassed = soak::ferrocardSessions(card);
    std::printf("\n");
    const bool programsPassed = soak::programStarts(programs);
    const bool passed = trayPassed && cardPassed && programsPassed;
    std::printf("\nsoak: %s\n", passed ? "flat and exact" : "FAILED");
    return passed ? 0 : 1;
}
