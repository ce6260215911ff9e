// The parameters key: the service's only persistent state and its channel to
// the card-reader driver. Every accessor opens the key afresh and closes it
// before returning.
#pragma once

#include "platform/win32.h"

constexpr const char* kParametersKey = "SYSTEM\\CurrentControlSet\\services\\HXSDCRDR\\Parameters";
// The card-reader driver's service key, which its installation makes, and the
// parameters key's name beneath it.
constexpr const char* kDriverServiceKey = "SYSTEM\\CurrentControlSet\\services\\HXSDCRDR";
constexpr const char* kParametersSubkey = "Parameters";

constexpr const char* kValueIsSupportSDIO = "IsSupportSDIO";
constexpr const char* kValueDeviceId = "DeviceId";
constexpr const char* kValueDriverSwitchFlag = "DriverSwitchFlag";
constexpr const char* kValueIsSwitchingDrv = "IsSwitchingDrv";
constexpr const char* kValueIsSDIOPresent = "IsSDIOPresent";

// IsSwitchingDrv while a device-console run is binding one driver or the other.
constexpr DWORD kSwitchingToStandard = 1;
constexpr DWORD kSwitchingToMaker = 0x81;

// Opens the key, creating it empty and volatile when it does not exist (a key
// the service made up must not outlive a restart), with full access. Only the
// parameters key itself is ever created, beneath the driver's existing
// service key; without that key this fails as an open would
// (ERROR_FILE_NOT_FOUND).
LONG CreateParametersKey(HKEY* key);

// The one rule for reading a value of the key: exactly four bytes, whatever
// the registry type. A longer value does not fit (ERROR_MORE_DATA); a
// shorter one would leave bytes undefined and is refused as well
// (ERROR_INVALID_DATA). `value` changes only on success.
LONG ReadFourByteValue(HKEY key, const char* name, DWORD* value);

// True only when IsSupportSDIO could be read and is 1. Creates the key as an
// empty volatile key when it does not exist beneath the driver's service key.
bool supportSDIO();
// DeviceId, or 0 when it cannot be read.
DWORD ReadDeviceID();
// Registry status; on success the value is stored through `value`, otherwise
// `value` is left as it was.
LONG ReadDriverSwitchFlag(DWORD* value);
LONG WriteDriverSwitchFlag(DWORD value);
// IsSwitchingDrv, as ReadDriverSwitchFlag reads its value.
LONG ReadDriverSwitching(DWORD* value);
LONG WriteDriverSwitchingForTimerbar(DWORD value);

// The retry rule for DriverSwitchFlag, and for IsSwitchingDrv's return to 0
// at the end of a switch: up to 100 calls, each failed one followed by a
// 20 ms pause. Answers the last call's status.
constexpr int kSwitchFlagAttempts = 100;
constexpr DWORD kSwitchFlagPauseMs = 20;

template <class Accessor>
LONG switchFlagRetry(Accessor accessor) {
    LONG status = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kSwitchFlagAttempts; ++attempt) {
        status = accessor();
        if (status == ERROR_SUCCESS)
            return status;
        Sleep(kSwitchFlagPauseMs);
    }
    return status;
}
