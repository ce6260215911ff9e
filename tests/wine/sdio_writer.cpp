// Plays the card-reader driver for the monitor test: from a process of its
// own it reports an SDIO card, IsSDIOPresent = 1 in the service's parameters
// key, and records on the clock all processes share the moment just before
// the write.
#include "wine_support.h"

int main() {
    using namespace winetest;
    long long at = nowUs();
    bool wrote = setDword(HKEY_LOCAL_MACHINE, kParametersKey, kValueIsSDIOPresent, 1);
    bool recorded = setQword(HKEY_CURRENT_USER, kProbeKey, kProbeWriterWroteAt, at);
    return wrote && recorded ? 0 : 1;
}
