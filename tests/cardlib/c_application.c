/* An SD application written in C against the public header alone: it must
 * compile as C and link against the library as it ships. Answers the number
 * of checks that failed. */
#include "Ferrocard.h"

#include <string.h>

int run_c_application(void) {
    int failed = 0;
    uint8_t mid[8];
    uint16_t status = 0;
    uint32_t capacityClass = 1;
    /* Through the header's pointer types, as a LoadLibrary caller would. */
    DDSysInit_fn sysInit = DDSysInit;
    DDGetMID_fn getMid = DDGetMID;
    DDChkSDCard_fn check = DDChkSDCard;

    failed += sysInit() != FERROCARD_OK;
    failed += DDInit() != FERROCARD_OK;
    failed += DDLockDrive() != FERROCARD_OK;
    failed += DDUnlockDrive() != FERROCARD_OK;
    failed += DDSecureIdentify(&capacityClass) != FERROCARD_OK || capacityClass != 0;
    failed += DDSecureWrite(mid, 1) != FERROCARD_E_WRITE_PROTECTED;
    memset(mid, 0, sizeof mid);
    failed += getMid(mid) != FERROCARD_OK || mid[0] == 0;
    failed += check(0, &status) != FERROCARD_OK || !(status & FERROCARD_CARD_CHECKED);
    failed += DDChkSDCard(1, &status) != FERROCARD_E_BAD_DRIVE;
    failed += DDFini() != FERROCARD_OK;
    failed += DDSysFini() != FERROCARD_OK;
    return failed;
}
