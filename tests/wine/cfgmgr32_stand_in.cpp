// A stand-in for cfgmgr32.dll, built for the Wine tests only and never
// shipped: Wine 8.0 answers CM_Get_Device_ID_ExA and CM_Get_DevNode_Status_Ex
// with success and writes nothing, which leaves the service's device walks
// blind. These two answer from the device tree Wine does keep: the instance
// identifier through setupapi's CM_Get_Device_IDA (which works), the status
// from the device's key under Enum.
//
// The service calls exactly these two of cfgmgr32.dll, so the stand-in needs
// nothing else. The test fixture puts it where the system's is, and the
// service loads it from there by full path when a test sets
// WINEDLLOVERRIDES=cfgmgr32=n,b.
#define _CFGMGR32_ // this module defines the functions it declares
#include <windows.h>
// After windows.h, which they rest on.
#include <cfgmgr32.h>
#include <regstr.h> // CONFIGFLAG_DISABLED

#include <cstring>

namespace {

constexpr char kEnumKey[] = "System\\CurrentControlSet\\Enum\\";

// The device's key under Enum; false when the devnode is unknown or the key
// is gone.
bool openDeviceKey(DEVINST devinst, HKEY* key) {
    char id[MAX_DEVICE_ID_LEN];
    if (CM_Get_Device_IDA(devinst, id, sizeof id, 0) != CR_SUCCESS)
        return false;
    char path[sizeof kEnumKey + MAX_DEVICE_ID_LEN];
    std::strcpy(path, kEnumKey);
    std::strcat(path, id);
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key) == ERROR_SUCCESS;
}

bool hasValue(HKEY key, const char* name) {
    return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD dwordValue(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        size != sizeof value)
        return 0;
    return value;
}

} // namespace

extern "C" {

CONFIGRET WINAPI CM_Get_Device_ID_ExA(DEVINST devinst, PCHAR buffer, ULONG length, ULONG flags, HMACHINE machine) {
    if (machine)
        return CR_REMOTE_COMM_FAILURE; // the local machine only
    return CM_Get_Device_IDA(devinst, buffer, length, flags);
}

// Started with its driver when the device has a description (what an
// installed driver leaves), disabled when its configuration flags say so,
// and otherwise without a driver: the states the service tells apart.
CONFIGRET WINAPI CM_Get_DevNode_Status_Ex(PULONG status, PULONG problem, DEVINST devinst, ULONG, HMACHINE machine) {
    if (!status || !problem)
        return CR_INVALID_POINTER;
    if (machine)
        return CR_REMOTE_COMM_FAILURE;
    HKEY key;
    if (!openDeviceKey(devinst, &key))
        return CR_NO_SUCH_DEVINST;
    if (dwordValue(key, "ConfigFlags") & CONFIGFLAG_DISABLED) {
        *status = DN_HAS_PROBLEM;
        *problem = CM_PROB_DISABLED;
    } else if (hasValue(key, "DeviceDesc")) {
        *status = DN_STARTED | DN_DRIVER_LOADED;
        *problem = 0;
    } else {
        *status = DN_HAS_PROBLEM;
        *problem = CM_PROB_FAILED_INSTALL;
    }
    RegCloseKey(key);
    return CR_SUCCESS;
}

} // extern "C"
