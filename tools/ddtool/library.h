// The exports ddtool calls, as an SD application holds them: pointers of the
// public header's types. On Windows they come from Ferrocard.dll by name; on
// Linux they are the library's own functions, run on a simulated machine.
#pragma once

#include "Ferrocard.h"

namespace ddtool {

struct Library {
    DDSysInit_fn sysInit;
    DDSysFini_fn sysFini;
    DDFini_fn fini;
    DDSysDrive_fn sysDrive;
    DDChkSDCard_fn checkCard;
    DDIdentify_fn identify;
    DDSecureIdentify_fn secureIdentify;
    DDGetMID_fn getMid;
    DDReadMKB_fn readMkb;
    DDSecureRead_fn secureRead;
    DDSecureWrite_fn secureWrite;
    DDReadPT_fn readPt;
    DDWritePT_fn writePt;
};

} // namespace ddtool
