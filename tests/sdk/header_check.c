/* Ferrocard.h as SD applications compile it, in C and in C++: with
 * FERROCARD_HEADER_USED it calls the header's helpers and names its
 * macros and types, without it only includes the header, whose helpers
 * must then cost no warning either. */
#include "Ferrocard.h"
#include "Ferrocard.h" /* twice: the guard holds */

#ifdef FERROCARD_HEADER_USED
int headerCheck(uint32_t status);

int headerCheck(uint32_t status) {
    static const char version[] = FERROCARD_FILE_VERSION_TEXT " " FERROCARD_PRODUCT_VERSION_TEXT;
    DDSysInit_fn sysInit = DDSysInit;
    uint16_t cardStatus = FERROCARD_CARD_CHECKED | FERROCARD_CARD_WRITE_PROTECTED;
    return FerrocardStatusText(status)[0] + version[0] + (sysInit != 0) + cardStatus +
           FERROCARD_FILE_VERSION_MAJOR + FERROCARD_FILE_VERSION_MINOR + FERROCARD_FILE_VERSION_BUILD +
           FERROCARD_FILE_VERSION_REVISION + FERROCARD_PRODUCT_VERSION_MAJOR + FERROCARD_PRODUCT_VERSION_MINOR +
           FERROCARD_PRODUCT_VERSION_BUILD + FERROCARD_PRODUCT_VERSION_REVISION;
}
#endif
