/*
 * Checks in the manner of Wine's own tests, for C: CHECK counts a pass or
 * prints the failure; inside KNOWN_DIFFERENCE(why) a failing check is a
 * known difference of Wine's (counted and printed, never a failure) and a
 * passing one is a failure, so that the mark goes once Wine behaves as
 * Windows does. The program ends with "N passed, N failed, N known".
 */
#ifndef CHECK_H
#define CHECK_H

int checkAt(const char* file, int line, int condition, const char* format, ...) __attribute__((format(printf, 4, 5)));
int knownDifferenceBegin(const char* why);
int knownDifferenceEnd(void);
/* The closing line; answers the process exit code. */
int checkSummary(void);
int checkFailures(void);

#define CHECK(condition, ...) checkAt(__FILE__, __LINE__, (condition) ? 1 : 0, __VA_ARGS__)
#define KNOWN_DIFFERENCE(why) for (int known_ = knownDifferenceBegin(why); known_; known_ = knownDifferenceEnd())

#endif /* CHECK_H */
