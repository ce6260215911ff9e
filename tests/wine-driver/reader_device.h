/*
 * The controller's entry in the device tree, by the registry alone: a PCI
 * device with a class and the maker's description, and its storage-port
 * interface, linked, whose path leads to the stand-in's controller device.
 * The tests add it only while they hold the Wine tests' service-state lock:
 * the service's own tests walk the same tree for the maker's description.
 */
#ifndef READER_DEVICE_H
#define READER_DEVICE_H

#include <windows.h>

#include "stand_in_protocol.h"

static inline int readerDeviceSetString(const char* path, const char* name, const char* value) {
    return RegSetKeyValueA(HKEY_LOCAL_MACHINE, path, name, REG_SZ, value, (DWORD)strlen(value) + 1) == ERROR_SUCCESS;
}

/* Nonzero when every key and value went in. */
static inline int readerDeviceAdd(void) {
    const DWORD linked = 1;
    return readerDeviceSetString(STAND_IN_DEVICE_KEY "\\4&1f0e2d3c&0&00E3", "ClassGUID", STAND_IN_SCSI_ADAPTER_CLASS) &&
           readerDeviceSetString(STAND_IN_DEVICE_KEY "\\4&1f0e2d3c&0&00E3", "DeviceDesc", STAND_IN_DESCRIPTION) &&
           readerDeviceSetString(STAND_IN_INTERFACE_KEY, "DeviceInstance", STAND_IN_INSTANCE_ID) &&
           readerDeviceSetString(STAND_IN_INTERFACE_KEY "\\#", "SymbolicLink", STAND_IN_INTERFACE_PATH) &&
           RegSetKeyValueA(HKEY_LOCAL_MACHINE, STAND_IN_INTERFACE_KEY "\\#\\Control", "Linked", REG_DWORD, &linked,
                           sizeof linked) == ERROR_SUCCESS;
}

/* Removes whatever of the device is there. */
static inline void readerDeviceRemove(void) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, STAND_IN_INTERFACE_KEY);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, STAND_IN_INTERFACE_KEY);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, STAND_IN_DEVICE_KEY);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, STAND_IN_DEVICE_KEY);
}

#endif /* READER_DEVICE_H */
