// The program's windows that are never seen: the tray's main window and the
// device-change listener. Both are modal dialogs, and a modal loop shows its
// dialog once its queue first runs empty, whatever the template says; each
// refuses in WM_WINDOWPOSCHANGING.
#pragma once

#include "platform/win32.h"

// Takes the showing out of the position change that `windowPos` (the
// message's lParam) describes. A message without its record is left alone:
// false then.
bool RefuseToBeShown(LPARAM windowPos);
