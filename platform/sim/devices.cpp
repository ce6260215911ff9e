#include "platform/sim/devices.h"

#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {
// The display adapter interface class, which every Windows machine (and
// Wine) has: a walk the conformance suite can take on both.
constexpr GUID kDisplayAdapterInterface = {
    0x5b45201d, 0xf2f2, 0x4f3b, {0x85, 0xbb, 0x30, 0xff, 0x1f, 0x95, 0x35, 0x99}};
} // namespace

bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

DeviceTree::DeviceTree(Kernel& kernel) : kernel_(kernel) {
    // Every machine has a root and a few ordinary devices around the ones a
    // test adds, so walks never see only what the test put there.
    std::lock_guard<std::mutex> lock(kernel_.lock());
    for (const char* id : {"ROOT\\ACPI_HAL\\0000", "ACPI\\PNP0A03\\0",
                           "PCI\\VEN_8086&DEV_2918&SUBSYS_00000000&REV_02\\3&11583659&0&F8"}) {
        Device d;
        d.devInst = next_++;
        d.instanceId = id;
        d.description = std::string("Standard device ") + std::to_string(d.devInst);
        devices_.push_back(d);
    }
    Device display;
    display.devInst = next_++;
    display.instanceId = "PCI\\VEN_1234&DEV_1111&SUBSYS_00000000&REV_02\\3&11583659&0&10";
    display.description = std::string("Standard VGA Graphics Adapter");
    devices_.push_back(display);
    addInterfaceLocked(devices_.back(), kDisplayAdapterInterface, "");
}

std::string DeviceTree::addInterfaceLocked(Device& d, const GUID& classGuid, const std::string& reference) {
    // Windows forms the path from the instance identifier, its separators
    // turned into '#', and the class; a reference string follows the class.
    std::string path = "\\\\?\\";
    for (char c : d.instanceId)
        path += c == '\\' ? '#' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    path += "#" + guidText(classGuid);
    if (!reference.empty())
        path += "\\" + reference;
    d.interfaces.push_back(DeviceInterface{classGuid, path, true});
    return path;
}

std::string DeviceTree::addInterface(DEVINST devInst, const GUID& classGuid, const std::string& reference) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    Device* d = findLocked(devInst);
    return d ? addInterfaceLocked(*d, classGuid, reference) : std::string();
}

void DeviceTree::setInterfacesEnabled(DEVINST devInst, const GUID& classGuid, bool enabled) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (Device* d = findLocked(devInst))
        for (auto& i : d->interfaces)
            if (i.classGuid == classGuid)
                i.enabled = enabled;
}

Device* DeviceTree::findLocked(DEVINST devInst) {
    for (auto& d : devices_)
        if (d.devInst == devInst)
            return &d;
    return nullptr;
}

DEVINST DeviceTree::add(const std::string& instanceId, std::optional<std::string> description, DEVINST parent) {
    DEVINST id;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        Device d;
        d.devInst = id = next_++;
        d.instanceId = instanceId;
        d.description = std::move(description);
        d.parent = parent;
        devices_.push_back(std::move(d));
        ++changes_;
    }
    announceChange();
    return id;
}

void DeviceTree::remove(DEVINST devInst) {
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        std::vector<DEVINST> doomed{devInst};
        for (std::size_t i = 0; i < doomed.size(); ++i)
            for (const auto& d : devices_)
                if (d.parent == doomed[i])
                    doomed.push_back(d.devInst);
        devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                      [&](const Device& d) {
                                          return std::find(doomed.begin(), doomed.end(), d.devInst) != doomed.end();
                                      }),
                       devices_.end());
        ++changes_;
    }
    announceChange();
}

void DeviceTree::setDescription(DEVINST devInst, std::optional<std::string> description) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (Device* d = findLocked(devInst))
        d->description = std::move(description);
}

void DeviceTree::setStatus(DEVINST devInst, ULONG status, ULONG problem) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (Device* d = findLocked(devInst)) {
        d->status = status;
        d->problem = problem;
    }
}

void DeviceTree::setPresent(DEVINST devInst, bool present) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (Device* d = findLocked(devInst))
        d->present = present;
}

void DeviceTree::setIdUnreadable(DEVINST devInst, bool unreadable) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (Device* d = findLocked(devInst))
        d->idUnreadable = unreadable;
}

std::optional<Device> DeviceTree::device(DEVINST devInst) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    for (const auto& d : devices_)
        if (d.devInst == devInst)
            return d;
    return std::nullopt;
}

std::vector<Device> DeviceTree::devices() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return devices_;
}

std::vector<DEVINST> DeviceTree::children(DEVINST parent) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    std::vector<DEVINST> out;
    for (const auto& d : devices_)
        if (d.parent == parent)
            out.push_back(d.devInst);
    return out;
}

void DeviceTree::onChange(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    listeners_.push_back(std::move(listener));
}

unsigned DeviceTree::changes() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return changes_;
}

void DeviceTree::announceChange() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        listeners = listeners_;
    }
    for (auto& l : listeners)
        l();
}

std::shared_ptr<DeviceTree::DeviceList> DeviceTree::listLocked(HDEVINFO list) const {
    return std::static_pointer_cast<DeviceList>(kernel_.lookup(list, HandleSpace::DeviceList));
}

HDEVINFO DeviceTree::getClassDevsEx(const GUID* classGuid, PCSTR enumerator, DWORD flags, HDEVINFO existing,
                                    PCSTR machine) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (existing || enumerator || (machine && *machine)) {
        // Only the local machine's whole tree is modelled.
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto list = std::make_shared<DeviceList>();
    for (const auto& d : devices_) {
        if (!d.present && (flags & DIGCF_PRESENT))
            continue;
        if (!(flags & DIGCF_DEVICEINTERFACE)) {
            list->members.push_back(d.devInst);
            continue;
        }
        // An interface list holds the devices with an interface of the class
        // (any class with DIGCF_ALLCLASSES); "present" asks for enabled ones.
        bool member = false;
        for (const auto& i : d.interfaces) {
            if ((!(flags & DIGCF_ALLCLASSES) && !(i.classGuid == *classGuid)) ||
                (!i.enabled && (flags & DIGCF_PRESENT)))
                continue;
            list->interfaces.push_back(ListedInterface{d.devInst, i.classGuid, i.path, i.enabled});
            member = true;
        }
        if (member)
            list->members.push_back(d.devInst);
    }
    return kernel_.addHandle(list, "device list", HandleSpace::DeviceList);
}

BOOL DeviceTree::getListDetail(HDEVINFO list, PSP_DEVINFO_LIST_DETAIL_DATA_A detail) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!listLocked(list)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!detail || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memset(&detail->ClassGuid, 0, sizeof detail->ClassGuid);
    detail->RemoteMachineHandle = nullptr; // the local machine
    detail->RemoteMachineName[0] = '\0';
    return TRUE;
}

BOOL DeviceTree::enumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto l = listLocked(list);
    if (!l) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (index >= l->members.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    std::memset(&data->ClassGuid, 0, sizeof data->ClassGuid);
    data->DevInst = l->members[index];
    data->Reserved = 0;
    return TRUE;
}

BOOL DeviceTree::getRegistryProperty(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property, PDWORD type, PBYTE buffer,
                                     DWORD size, PDWORD required) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto l = listLocked(list);
    if (!l) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA) ||
        std::find(l->members.begin(), l->members.end(), data->DevInst) == l->members.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!buffer && size) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    Device* d = findLocked(data->DevInst);
    if (!d) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    if (property != SPDRP_DEVICEDESC && property != SPDRP_HARDWAREID) {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return FALSE;
    }
    std::string value;
    if (property == SPDRP_DEVICEDESC) {
        if (!d->description) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        value.assign(d->description->c_str(), d->description->size() + 1);
    } else {
        // The hardware identifiers: the instance identifier up to its last
        // separator, as a one-entry multi-string.
        std::string hw = d->instanceId.substr(0, d->instanceId.rfind('\\'));
        value = hw + std::string(2, '\0');
    }
    auto needed = static_cast<DWORD>(value.size());
    if (type)
        *type = property == SPDRP_DEVICEDESC ? REG_SZ : REG_MULTI_SZ;
    if (required)
        *required = needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, value.data(), needed);
    return TRUE;
}

BOOL DeviceTree::enumInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* classGuid, DWORD index,
                                PSP_DEVICE_INTERFACE_DATA data) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto l = listLocked(list);
    if (!l) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !classGuid ||
        (device && (device->cbSize != sizeof(SP_DEVINFO_DATA) ||
                    std::find(l->members.begin(), l->members.end(), device->DevInst) == l->members.end()))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The index counts the class's interfaces of the whole list, or of the
    // one device when a device is given.
    DWORD seen = 0;
    for (std::size_t n = 0; n < l->interfaces.size(); ++n) {
        const ListedInterface& i = l->interfaces[n];
        if (!(i.classGuid == *classGuid) || (device && i.device != device->DevInst))
            continue;
        if (seen++ != index)
            continue;
        data->InterfaceClassGuid = i.classGuid;
        data->Flags = i.active ? SPINT_ACTIVE : 0;
        data->Reserved = n + 1;
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL DeviceTree::getInterfaceDetail(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                    PSP_DEVINFO_DATA device) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto l = listLocked(list);
    if (!l) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > l->interfaces.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The record's size field names its layout: the platform's own, and no
    // other, is taken; a size without a record is refused the same way.
    if ((detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) || (!detail && size)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const ListedInterface& i = l->interfaces[data->Reserved - 1];
    auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + i.path.size() + 1);
    if (required)
        *required = needed;
    if (device && device->cbSize == sizeof(SP_DEVINFO_DATA)) {
        std::memset(&device->ClassGuid, 0, sizeof device->ClassGuid);
        device->DevInst = i.device;
        device->Reserved = 0;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, i.path.c_str(), i.path.size() + 1);
    return TRUE;
}

BOOL DeviceTree::destroyList(HDEVINFO list) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!kernel_.closeHandle(list, HandleSpace::DeviceList)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

CONFIGRET DeviceTree::getDeviceId(DEVINST devInst, PCHAR buffer, ULONG length, ULONG flags, HMACHINE machine) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!buffer)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    if (machine)
        return CR_INVALID_POINTER; // no remote machines here
    Device* d = findLocked(devInst);
    if (!d)
        return CR_NO_SUCH_DEVINST;
    if (d->idUnreadable)
        return CR_FAILURE;
    if (d->instanceId.size() + 1 > length)
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, d->instanceId.c_str(), d->instanceId.size() + 1);
    return CR_SUCCESS;
}

CONFIGRET DeviceTree::getStatus(PULONG status, PULONG problem, DEVINST devInst, ULONG flags, HMACHINE machine) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!status || !problem)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    if (machine)
        return CR_INVALID_POINTER;
    Device* d = findLocked(devInst);
    if (!d || !d->present)
        return CR_NO_SUCH_DEVINST;
    *status = d->status;
    *problem = d->problem;
    return CR_SUCCESS;
}

} // namespace sim
