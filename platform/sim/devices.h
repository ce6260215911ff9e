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

// A device interface: a class and the path a program opens it by. An
// interface is enabled while the driver that registered it runs.
struct DeviceInterface {
    GUID classGuid{};
    std::string path;
    bool enabled = true;
};

bool operator==(const GUID& a, const GUID& b);
// "{2accfe60-c130-11d2-b082-00a0c91efb8b}"
std::string guidText(const GUID& guid);

struct Device {
    DEVINST devInst = 0;
    std::string instanceId;
    std::optional<std::string> description;
    ULONG status = DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    ULONG problem = 0;
    bool present = true;
    DEVINST parent = 0;
    bool idUnreadable = false; // CM_Get_Device_ID_ExA fails for it
    std::vector<DeviceInterface> interfaces;
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
    // Registers an interface of class `classGuid` on the device, enabled,
    // under the path Windows forms from the instance identifier
    // ("\\?\pci#ven_...#{guid}"); answers that path. `reference` adds a
    // reference string, for a second interface of the same class.
    std::string addInterface(DEVINST devInst, const GUID& classGuid, const std::string& reference = "");
    void setInterfacesEnabled(DEVINST devInst, const GUID& classGuid, bool enabled);
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
    BOOL enumInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* classGuid, DWORD index,
                        PSP_DEVICE_INTERFACE_DATA data);
    BOOL getInterfaceDetail(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                            DWORD size, PDWORD required, PSP_DEVINFO_DATA device);
    CONFIGRET getDeviceId(DEVINST devInst, PCHAR buffer, ULONG length, ULONG flags, HMACHINE machine);
    CONFIGRET getStatus(PULONG status, PULONG problem, DEVINST devInst, ULONG flags, HMACHINE machine);

  private:
    // What a device interface list saw when it was made: later changes of the
    // tree do not reach it, as with the platform's lists.
    struct ListedInterface {
        DEVINST device;
        GUID classGuid;
        std::string path;
        bool active;
    };
    struct DeviceList {
        std::vector<DEVINST> members;
        std::vector<ListedInterface> interfaces;
    };
    Device* findLocked(DEVINST devInst);
    std::string addInterfaceLocked(Device& d, const GUID& classGuid, const std::string& reference);
    std::shared_ptr<DeviceList> listLocked(HDEVINFO list) const;

    Kernel& kernel_;
    std::vector<Device> devices_;
    DEVINST next_ = 1;
    unsigned changes_ = 0;
    std::vector<std::function<void()>> listeners_;
};

} // namespace sim
