// Controller discovery: the maker's controllers are the present devices with
// a storage-port interface whose description is the maker's. Discovery finds
// the wanted one, records its path and tells its driver it was found.
#pragma once

#include "platform/win32.h"

#include <stdint.h>

namespace ferrocard {

constexpr const char* kControllerDescription = "Halvex Integrated MMC/SD controller";

// `wanted` counts from 1 in enumeration order. On success the controller's
// path is in the library state; nothing discovery opened stays open.
bool findController(uint32_t wanted);

// Opens a device for reading and writing, shared, as every open of the
// library does; INVALID_HANDLE_VALUE when it cannot.
HANDLE openDevice(const char* path);

} // namespace ferrocard
