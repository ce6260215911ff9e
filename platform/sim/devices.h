// The simulated device tree: devices with instance identifiers, descriptions,
// configuration-manager status and problem numbers, parents and children, in
// a stable enumeration order; and the device-setup and configuration-manager
// calls over it.
#pragma once

#include "platform/sim/kernel.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Device {
    DEVINST devInst = 0;
    std::string instanceId;
    std::optional<std::string> description;
    ULONG status = DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    ULONG problem = 0;
    bool present = true;
    DEVINST parent = 0;
    bool idUnreadable = false; // CM_Get_Device_ID_ExA fails for it
};

class DeviceTree {
public:
    explicit DeviceTree(Kernel& kernel);

    // Adds a present, started device at the end of the enumeration order.
    DEVINST add(const std::string& instanceId, std::optional<std::string> description, DEVINST parent = 0);
    // Removes a device and its children from the tree.
    void remove(DEVINST devInst);
    void setDescription(DEVINST devInst, std::optional<std::string> description);
    void setStatus(DEVINST devInst, ULONG status, ULONG problem);
    void setPresent(DEVINST devInst, bool present);
    void setIdUnreadable(DEVINST devInst, bool unreadable);
    std::optional<Device> device(DEVINST devInst) const;
    std::vector<Device> devices() const;
    std::vector<DEVINST> children(DEVINST parent) const;

    // Every change of the tree is announced to these (outside the kernel
    // lock), as the platform broadcasts a device-tree change.
    void onChange(std::function<void()> listener);
    unsigned changes() const;
    void announceChange();

    // Win32 entry points
    HDEVINFO getClassDevsEx(const GUID* classGuid, PCSTR enumerator, DWORD flags, HDEVINFO existing, PCSTR machine);
    BOOL getListDetail(HDEVINFO list, PSP_DEVINFO_LIST_DETAIL_DATA_A detail);
    BOOL enumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data);
    BOOL getRegistryProperty(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer,
                             DWORD size, PDWORD required);
    BOOL destroyList(HDEVINFO list);
    CONFIGRET getDeviceId(DEVINST devInst, PCHAR buffer, ULONG length, ULONG flags, HMACHINE machine);
    CONFIGRET getStatus(PULONG status, PULONG problem, DEVINST devInst, ULONG flags, HMACHINE machine);

private:
    struct DeviceList {
        std::vector<DEVINST> members;
    };
    Device* findLocked(DEVINST devInst);
    std::shared_ptr<DeviceList> listLocked(HDEVINFO list) const;

    Kernel& kernel_;
    std::vector<Device> devices_;
    DEVINST next_ = 1;
    unsigned changes_ = 0;
    std::vector<std::function<void()>> listeners_;
};

} // namespace sim
