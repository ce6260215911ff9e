#include "service/parameters.h"

#include "platform/scoped.h"
#include "service/trace.h"

namespace {

LONG openParametersKey(ScopedKey& key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_ALL_ACCESS, key.put());
}

LONG writeFourBytes(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

} // namespace

LONG ReadFourByteValue(HKEY key, const char* name, DWORD* value) {
    DWORD read = 0;
    DWORD size = sizeof read;
    LONG status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&read), &size);
    if (status == ERROR_SUCCESS && size != sizeof read)
        status = ERROR_INVALID_DATA;
    if (status == ERROR_SUCCESS)
        *value = read;
    return status;
}

LONG CreateParametersKey(HKEY* key) {
    // Created from the driver's own service key, never from the root: a
    // creation from the root would make every missing key above it too, and
    // a driver service key made up volatile by this program would keep the
    // driver installed later in the same boot from adding its persistent keys.
    *key = nullptr;
    ScopedKey service;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverServiceKey, 0, KEY_CREATE_SUB_KEY, service.put());
    if (status != ERROR_SUCCESS)
        return status;
    DWORD disposition = 0;
    return RegCreateKeyExA(service.get(), kParametersSubkey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key, &disposition);
}

bool supportSDIO() {
    ScopedKey key;
    LONG status = CreateParametersKey(key.put());
    if (status != ERROR_SUCCESS) {
        SvcTrace("supportSDIO:Error(%x) in RegCreateKeyEx.", errorCodeOf(status));
        return false;
    }
    DWORD value = 0;
    status = ReadFourByteValue(key.get(), kValueIsSupportSDIO, &value);
    if (status != ERROR_SUCCESS) {
        SvcTrace("supportSDIO:Error(%X) RegQueryValueEx.", errorCodeOf(status));
        return false;
    }
    SvcTrace("supportSDIO: IsSupportSDIO = %d (0:Not support; 1:support.).", static_cast<int>(value));
    return value == 1;
}

DWORD ReadDeviceID() {
    ScopedKey key;
    LONG status = CreateParametersKey(key.put());
    if (status != ERROR_SUCCESS) {
        SvcTrace("ReadDeviceID: Error(%x) in RegCreateKeyEx.", errorCodeOf(status));
        return 0;
    }
    DWORD value = 0;
    status = ReadFourByteValue(key.get(), kValueDeviceId, &value);
    if (status != ERROR_SUCCESS) {
        SvcTrace("ReadDeviceID:Error(%X) RegQueryValueEx.", errorCodeOf(status));
        return 0;
    }
    SvcTrace("ReadDeviceID: DeviceId = %04x .", value);
    return value;
}

LONG ReadDriverSwitchFlag(DWORD* value) {
    ScopedKey key;
    LONG status = openParametersKey(key);
    if (status != ERROR_SUCCESS) {
        SvcTrace("ReadDriverSwitchFlag:Error(%x) in RegOpenKeyEx.", errorCodeOf(status));
        return status;
    }
    DWORD read = 0;
    status = ReadFourByteValue(key.get(), kValueDriverSwitchFlag, &read);
    if (status != ERROR_SUCCESS) {
        SvcTrace("ReadDriverSwitchFlag:Error(%X) RegQueryValueEx.", errorCodeOf(status));
        return status;
    }
    SvcTrace("ReadDriverSwitchFlag:RegQueryValueEx dwValue = %x.", read);
    *value = read;
    return ERROR_SUCCESS;
}

LONG WriteDriverSwitchFlag(DWORD value) {
    SvcTrace("WriteDriverSwitchFlag : beign to Write %d now", static_cast<int>(value));
    ScopedKey key;
    LONG status = openParametersKey(key);
    if (status != ERROR_SUCCESS) {
        SvcTrace("WriteDriverSwitchFlag : Error(%x) in RegOpenKeyEx.", errorCodeOf(status));
        return status;
    }
    status = writeFourBytes(key.get(), kValueDriverSwitchFlag, value);
    if (status != ERROR_SUCCESS)
        SvcTrace("WriteDriverSwitchFlag : failed in RegSetValueEx(%X).", errorCodeOf(status));
    return status;
}

LONG ReadDriverSwitching(DWORD* value) {
    ScopedKey key;
    LONG status = openParametersKey(key);
    if (status != ERROR_SUCCESS) {
        SvcTrace("ReadDriverSwitching:Error(%x) in RegOpenKeyEx.", errorCodeOf(status));
        return status;
    }
    status = ReadFourByteValue(key.get(), kValueIsSwitchingDrv, value);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        SvcTrace("ReadDriverSwitching:Error(%X) RegQueryValueEx.", errorCodeOf(status));
    return status;
}

LONG WriteDriverSwitchingForTimerbar(DWORD value) {
    SvcTrace("WriteDriverSwitchingForTimerbar : switching to 0x%x", value);
    ScopedKey key;
    LONG status = openParametersKey(key);
    if (status != ERROR_SUCCESS) {
        SvcTrace("WriteDriverSwitchingForTimerbar : Error(%x) in RegOpenKeyEx.", errorCodeOf(status));
        return status;
    }
    status = writeFourBytes(key.get(), kValueIsSwitchingDrv, value);
    if (status != ERROR_SUCCESS)
        SvcTrace("WriteDriverSwitchingForTimerbar : failed in RegSetValueEx(%X).", errorCodeOf(status));
    return status;
}
