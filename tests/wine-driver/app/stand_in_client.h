/*
 * The test's side of the stand-in: its control device (the card, the
 * misbehaviour, the log of requests) and the controller's entry in the
 * device tree.
 */
#ifndef STAND_IN_CLIENT_H
#define STAND_IN_CLIENT_H

#include <windows.h>

#include "../stand_in_protocol.h"

/* Opens the control device and resets the stand-in: the default card in, no
 * rules, an empty log; adds the controller to the device tree. Nonzero on
 * success. */
int standInBegin(void);
/* Takes the controller out of the device tree again and closes the control
 * device. */
void standInEnd(void);

int standInReset(void);
int standInSetCard(const StandInCard* card);
int standInRule(uint32_t code, enum StandInReply reply, uint32_t times, uint32_t skip);
int standInClearRules(void);
int standInClearLog(void);
int standInState(StandInState* state);

/* The requests received since the log was last cleared, opens and closes
 * left out unless `withOpens`. Answers the count; *records is the
 * program's own copy until the next call. */
uint32_t standInRequests(const StandInRecord** records, int withOpens);

/* Wine passes the closing of a handle on to the driver on its own time:
 * waits up to a second for `closes` closes on `device`. */
int standInWaitForCloses(uint32_t device, uint32_t closes);

#endif /* STAND_IN_CLIENT_H */
