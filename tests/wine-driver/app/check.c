#include "check.h"

#include <stdarg.h>
#include <stdio.h>

static int gPassed, gFailed, gKnown;
static const char* gKnownWhy; /* inside KNOWN_DIFFERENCE while set */

int checkAt(const char* file, int line, int condition, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (gKnownWhy) {
        if (condition) {
            ++gFailed;
            printf("%s:%d: failed: passes now, the known difference (%s) has gone: ", file, line, gKnownWhy);
        } else {
            ++gKnown;
            printf("%s:%d: known difference (%s): ", file, line, gKnownWhy);
        }
        vprintf(format, args);
        printf("\n");
    } else if (condition) {
        ++gPassed;
    } else {
        ++gFailed;
        printf("%s:%d: failed: ", file, line);
        vprintf(format, args);
        printf("\n");
    }
    va_end(args);
    fflush(stdout);
    return condition;
}

int knownDifferenceBegin(const char* why) {
    gKnownWhy = why;
    return 1;
}

int knownDifferenceEnd(void) {
    gKnownWhy = 0;
    return 0;
}

int checkFailures(void) {
    return gFailed;
}

int checkSummary(void) {
    printf("%d passed, %d failed, %d known\n", gPassed, gFailed, gKnown);
    return gFailed ? 1 : 0;
}
