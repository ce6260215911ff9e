/* An application's own DLL with no DllMain of its own, calling into
 * Ferrocard: linked against an import library, it must keep the entry its
 * runtime gives it, never import Ferrocard's. */
#include "Ferrocard.h"

#ifdef _MSC_VER
#define EXPORTED __declspec(dllexport)
#else
#define EXPORTED __attribute__((dllexport))
#endif

EXPORTED uint32_t FERROCARD_CALL cardControllerStatus(void) {
    return DDSysInit();
}
