// The simulated device-setup (setupapi) and configuration-manager (cfgmgr32)
// functions.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

using sim::describe;
using sim::Machine;

HDEVINFO WINAPI SetupDiGetClassDevsExA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags,
                                       HDEVINFO existing, PCSTR machine, PVOID reserved) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiGetClassDevsExA",
                         describe(classGuid, enumerator, static_cast<void*>(parent), flags, existing, machine))) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    if (reserved) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return m.devices().getClassDevsEx(classGuid, enumerator, flags, existing, machine);
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailA(HDEVINFO list, PSP_DEVINFO_LIST_DETAIL_DATA_A detail) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiGetDeviceInfoListDetailA", describe(list, detail ? detail->cbSize : 0u))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().getListDetail(list, detail);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiEnumDeviceInfo", describe(list, index, data ? data->cbSize : 0u))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().enumDeviceInfo(list, index, data);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                              PBYTE buffer, DWORD size, PDWORD required) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiGetDeviceRegistryPropertyA",
                         describe(list, data ? data->DevInst : 0u, property, type, size, required))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().getRegistryProperty(list, data, property, type, buffer, size, required);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiDestroyDeviceInfoList", describe(list))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().destroyList(list);
}

CONFIGRET WINAPI CM_Get_Device_ID_ExA(DEVINST devInst, PCHAR buffer, ULONG length, ULONG flags, HMACHINE machine) {
    Machine& m = Machine::current();
    if (auto e = m.enter("CM_Get_Device_ID_ExA", describe(devInst, length, flags, machine)))
        return *e;
    return m.devices().getDeviceId(devInst, buffer, length, flags, machine);
}

CONFIGRET WINAPI CM_Get_DevNode_Status_Ex(PULONG status, PULONG problem, DEVINST devInst, ULONG flags,
                                          HMACHINE machine) {
    Machine& m = Machine::current();
    if (auto e = m.enter("CM_Get_DevNode_Status_Ex", describe(devInst, flags, machine)))
        return *e;
    return m.devices().getStatus(status, problem, devInst, flags, machine);
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiGetClassDevsA", describe(classGuid, enumerator, static_cast<void*>(parent), flags))) {
        SetLastError(*e);
        return INVALID_HANDLE_VALUE;
    }
    return m.devices().getClassDevsEx(classGuid, enumerator, flags, nullptr, nullptr);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* classGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiEnumDeviceInterfaces",
                         describe(list, device ? device->DevInst : 0u, classGuid, index, data ? data->cbSize : 0u))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().enumInterfaces(list, device, classGuid, index, data);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                             PSP_DEVINFO_DATA device) {
    Machine& m = Machine::current();
    if (auto e = m.enter("SetupDiGetDeviceInterfaceDetailA",
                         describe(list, detail ? detail->cbSize : 0u, size, required, device))) {
        SetLastError(*e);
        return FALSE;
    }
    return m.devices().getInterfaceDetail(list, data, detail, size, required, device);
}
