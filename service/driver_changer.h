// Rebinding the controller with the device-console tool, and the one-byte
// classification of the running system that picks the driver package.
#pragma once

#include "platform/win32.h"

// Operating-system codes: the version in the high four bits, bit 0 set on an
// x64 processor.
constexpr BYTE kOsXpX86 = 0x00;
constexpr BYTE kOsXpX64 = 0x01;
constexpr BYTE kOsVistaX86 = 0x10;
constexpr BYTE kOsVistaX64 = 0x11;
constexpr BYTE kOsWin7X86 = 0x20;
constexpr BYTE kOsWin7X64 = 0x21;
constexpr BYTE kOsUnclassified = 0xFF;
constexpr BYTE kOsX64Bit = 0x01;

// ChangeDriver's types.
constexpr int kBindStandardDriver = 1;
constexpr int kBindMakerDriver = 2;

// Every composed text (paths, the tool's parameters) fits in this many bytes,
// terminator included.
constexpr DWORD kTextBytes = MAX_PATH;

constexpr const char* kHardwareIdFormat = "pci\\ven_1b2c&dev_%04x";
constexpr DWORD kMaxDeviceId = 0xFFFF;

// The process-wide operating-system code; 0xFF until classified.
extern BYTE gbOsVersionCode;

// Back to the state of a freshly loaded process: the code unclassified.
void DriverChangerForgetProcessState();

// Classifies the running system into `code` when it holds 0xFF. 1 when the
// code now holds a supported system, 0 when not (the code is then 0xFF).
int GetOsVersionCode(BYTE& code);
// How long a tool whose end cannot be waited for is given to finish: well
// beyond an update's few seconds, and two of them in one command still within
// the tray's bound on Exit.
constexpr DWORD kToolEndBoundMs = 20000;

// Runs "<tool> update <inf> "<hardware id>"" hidden and waits for it; 0 when
// it ran and ended, nonzero when it could not be started or its end cannot be
// waited for (after giving it kToolEndBoundMs to end all the same).
int RunDevconUpdate(const char* windowsDirectory, BYTE osCode, const char* infPath, const char* hardwareId);
// 1 when the tool was started and has ended, 0 when refused or not started.
int ChangeDriver(int type);
