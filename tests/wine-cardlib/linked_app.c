/* An SD application linked against Ferrocard's import library: the loader
 * resolves the exports before main runs. */
#include <stdio.h>

#include "Ferrocard.h"

int main(void) {
    uint32_t status = DDSysInit();
    uint32_t capacityClass = 1;
    int ok = status == FERROCARD_E_NO_CONTROLLER && DDSecureIdentify(&capacityClass) == FERROCARD_OK &&
             capacityClass == 0 && DDLockDrive() == FERROCARD_OK;
    printf("DDSysInit: %#x; %s\n", (unsigned)status, ok ? "1 passed, 0 failed" : "0 passed, 1 failed");
    return ok ? 0 : 1;
}
