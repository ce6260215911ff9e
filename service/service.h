// The driver-switch service's spine: process-wide state, start and stop.
//
// The tray's main thread calls SvcInit as the last step of its main window's
// initialisation, and SvcStop then SvcCleanup when it closes. In between, four
// threads meet only through the manual-reset events below.
#pragma once

#include "platform/win32.h"

// Indexes of ghSvcStopThreadEvent: which worker has ended.
constexpr int kStoppedMonitor = 0;
constexpr int kStoppedOperator = 1;
constexpr int kStoppedFilter = 2;
constexpr int kWorkerCount = 3;

// How long SvcInit lets the threads settle before the monitor's first look.
constexpr DWORD kStartSettleMs = 500;

// How long SvcCleanup waits for the workers. A driver switch in progress is
// finished first, device-console run included, and those take seconds; a tool
// that hangs must not hang the tray's Exit with it.
constexpr DWORD kCleanupWaitMs = 60000;

extern HANDLE ghSvcStopEvent;
extern HANDLE ghSvcStopThreadEvent[kWorkerCount];
extern HANDLE ghSDIORegChangeEvent;
extern HANDLE ghChangeMicrosoftDriverEvent;
extern HANDLE ghChangeHXDriverEvent;
extern HANDLE ghChangeHXDriverRequestEvent;
extern HANDLE ghChangeMicrosoftRequestEvent;

extern HANDLE ghThreadMonitorSDIORegister;
extern HANDLE ghThreadOperateDriver;
extern HANDLE ghThreadRequestFilter;
extern HANDLE ghThreadDialog;

extern CRITICAL_SECTION gcsDeviceLock;
extern DWORD gdwDeviceId;

void SvcInit(WPARAM unused1, LPARAM unused2);
void SvcStop();
void SvcCleanup();

// True from the end of a successful SvcInit until SvcCleanup.
bool SvcIsRunning();

// Back to the state of a freshly loaded process, without releasing anything:
// for a host that starts a new (simulated) machine in the same process. The
// spine resets its own state and has each module reset its own.
void SvcForgetProcessState();
