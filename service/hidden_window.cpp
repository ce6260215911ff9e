#include "service/hidden_window.h"

bool RefuseToBeShown(LPARAM windowPos) {
    // Anyone may send the message, with anything in lParam; only the system's
    // own carries a record.
    auto* pos = reinterpret_cast<WINDOWPOS*>(windowPos);
    if (!pos)
        return false;
    pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    return true;
}
