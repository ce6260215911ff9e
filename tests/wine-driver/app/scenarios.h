/*
 * The SD application's runs against the card-reader stand-in. Each starts
 * with Ferrocard.dll freshly loaded, the default card in the reader and an
 * empty log of requests.
 */
#ifndef SCENARIOS_H
#define SCENARIOS_H

#include "check.h"
#include "expect.h"
#include "ferrocard_api.h"
#include "stand_in_client.h"

void sessionScenario(const Ferrocard* dd);
void noCardScenario(const Ferrocard* dd);
void writeProtectedScenario(const Ferrocard* dd);
void cardKindsScenario(const Ferrocard* dd);
void failuresScenario(const Ferrocard* dd);
void timingsScenario(const Ferrocard* dd);
/* One of the SDK's sample programs, "linked" or "dynamic", by its path. */
void sampleScenario(const char* kind, const char* program);

/* DDSysInit, DDSysDrive and, unless the card is to stay unchecked,
 * DDChkSDCard; the log cleared after. Nonzero when all answered 0. */
int openCard(const Ferrocard* dd, int check);

/* DDIdentify's out-values against `want`, field by field. */
void expectIdentity(const char* call, const Identity* got, const Identity* want);

/* Milliseconds on the performance counter. */
double nowMs(void);

#endif /* SCENARIOS_H */
