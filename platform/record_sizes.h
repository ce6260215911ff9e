// The sizes of the platform records that the deliverables fill in or hand to
// the platform, for both pointer widths. Every build checks them: a record of
// the wrong size is refused by Windows with no other sign.
#pragma once

#if defined(_WIN64) || (!defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu)
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "SECURITY_ATTRIBUTES, 64-bit");
static_assert(sizeof(CRITICAL_SECTION) == 40, "CRITICAL_SECTION, 64-bit");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA, 64-bit");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 296, "SP_DEVINFO_LIST_DETAIL_DATA_A, 64-bit");
static_assert(sizeof(STARTUPINFOA) == 104, "STARTUPINFOA, 64-bit");
static_assert(sizeof(PROCESS_INFORMATION) == 24, "PROCESS_INFORMATION, 64-bit");
static_assert(sizeof(SYSTEM_INFO) == 48, "SYSTEM_INFO, 64-bit");
static_assert(NOTIFYICONDATAA_V2_SIZE == 504, "NOTIFYICONDATAA up to guidItem, 64-bit");
#else
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "SECURITY_ATTRIBUTES, 32-bit");
static_assert(sizeof(CRITICAL_SECTION) == 24, "CRITICAL_SECTION, 32-bit");
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA, 32-bit");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 287, "SP_DEVINFO_LIST_DETAIL_DATA_A, 32-bit");
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA, 32-bit");
static_assert(sizeof(PROCESS_INFORMATION) == 16, "PROCESS_INFORMATION, 32-bit");
static_assert(sizeof(SYSTEM_INFO) == 36, "SYSTEM_INFO, 32-bit");
// The tray icon record's layout up to guidItem: the size the shell writes into
// cbSize.
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "NOTIFYICONDATAA up to guidItem, 32-bit");
#endif
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "DEV_BROADCAST_DEVICEINTERFACE_A");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
static_assert(sizeof(CHANGEFILTERSTRUCT) == 8, "CHANGEFILTERSTRUCT");
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(BOOL) == 4, "32-bit integers");
