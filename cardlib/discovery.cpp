#include "cardlib/discovery.h"

#include "cardlib/state.h"
#include "cardlib/transport.h"
#include "platform/scoped.h"

#include <stddef.h>
#include <string.h>

namespace ferrocard {

namespace {

// GUID_DEVINTERFACE_STORAGEPORT; defined here, as the SDK's import libraries
// do not always carry it.
constexpr GUID kStoragePortInterface = {0x2accfe60, 0xc130, 0x11d2, {0xb0, 0x82, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
constexpr DWORD kDescriptionSize = 512;
// The packet of the command that tells the driver it was found.
constexpr uint32_t kAnnouncePacketSize = 512;
constexpr uint32_t kAnnounceLength = 4;

char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the first `capacity` bytes of `text` hold `expected` and its
// terminator, letter case aside; nothing past `capacity` is read.
bool equalsIgnoringCase(const char* text, size_t capacity, const char* expected) {
    for (size_t i = 0; i < capacity; ++i) {
        if (folded(text[i]) != folded(expected[i]))
            return false;
        if (expected[i] == '\0')
            return true;
    }
    return false;
}

size_t boundedLength(const char* text, size_t capacity) {
    size_t n = 0;
    while (n < capacity && text[n] != '\0')
        ++n;
    return n;
}

void announce(HANDLE controller) {
    uint8_t packet[kAnnouncePacketSize] = {};
    setPayloadLength(packet, kAnnounceLength);
    DWORD returned = 0;
    sendCommand(controller, Command::Announce, packet, &returned); // the answer says nothing we use
}

// Steps 4 on of discovery for the matched device: fetch its interface's
// path, open it, record it and announce.
bool takeController(ScopedDeviceList& set, SP_DEVINFO_DATA& device) {
    // The device itself filters the interfaces: an index into the whole set
    // would count the interfaces of other devices, some of which may have
    // more than one.
    SP_DEVICE_INTERFACE_DATA iface;
    memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(set.get(), &device, &kStoragePortInterface, 0, &iface))
        return false;

    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set.get(), &iface, NULL, 0, &required, NULL);
    const DWORD pathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (required <= pathAt)
        return false;
    // Never smaller than the record, whatever size the platform named.
    const DWORD bytes =
        required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) : required;
    ScopedHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    if (!block)
        return false;
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.get());
    // The record's size field names the layout of this build: 5 on 32-bit
    // Windows, 8 on 64-bit.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &iface, detail, required, NULL, NULL))
        return false;
    set.reset();

    // A path the controller path cannot hold whole is not taken: a cut
    // path would name another device, or none.
    const size_t length = boundedLength(detail->DevicePath, required - pathAt);
    if (length == required - pathAt || length >= kControllerPathSize)
        return false;
    ScopedFile controller(openDevice(detail->DevicePath));
    if (!controller)
        return false;
    memcpy(library().controllerPath, detail->DevicePath, length + 1);
    announce(controller.get());
    return true;
}

} // namespace

HANDLE openDevice(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

bool findController(uint32_t wanted) {
    // The device-setup DLL from the system folder only: the application's
    // own folder is searched before it on some systems, and may be anyone's.
    if (!PlatformLoadSystemDlls(NULL))
        return false;
    ScopedDeviceList set(
        SetupDiGetClassDevsA(&kStoragePortInterface, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set)
        return false;
    uint32_t matches = 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device;
        memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.get(), index, &device))
            return false;
        char description[kDescriptionSize] = {};
        // A description that does not fit fails the read and is skipped.
        if (!SetupDiGetDeviceRegistryPropertyA(set.get(), &device, SPDRP_DEVICEDESC, NULL,
                                               reinterpret_cast<PBYTE>(description), sizeof description, NULL))
            continue;
        if (!equalsIgnoringCase(description, sizeof description, kControllerDescription))
            continue;
        if (++matches != wanted)
            continue;
        return takeController(set, device);
    }
}

} // namespace ferrocard
