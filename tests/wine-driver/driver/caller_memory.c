/*
 * Reading a caller's memory, as a port driver reads the data of a direct
 * pass-through where the caller keeps it. Under Wine a kernel driver runs in
 * the device host process, not in its caller's address space: it opens the
 * requesting process and reads across with ntdll's NtReadVirtualMemory.
 *
 * The driver cannot import ntdll (Wine would then load it as an ordinary
 * DLL, and the service would not start), and ntoskrnl exports nothing that
 * lands in ntdll; but Wine's ntoskrnl imports ntdll itself. So the function
 * is found at run time: ntoskrnl's import table gives an address in ntdll,
 * RtlPcToFileHeader the module's base, and ntdll's export directory the
 * rest.
 */
#include "stand_in.h"

typedef NTSTATUS(NTAPI* ReadVirtualMemory)(HANDLE process, PVOID address, PVOID buffer, SIZE_T length, SIZE_T* done);
typedef PVOID(NTAPI* PcToFileHeader)(PVOID pc, PVOID* base);
typedef PVOID(NTAPI* DirectoryEntryToData)(PVOID base, BOOLEAN mapped, USHORT entry, ULONG* size);

#define EXPORT_DIRECTORY 0 /* IMAGE_DIRECTORY_ENTRY_EXPORT */
#define IMPORT_DIRECTORY 1 /* IMAGE_DIRECTORY_ENTRY_IMPORT */
#define IMPORT_DESCRIPTOR_SIZE 20

static PVOID systemRoutine(const WCHAR* name) {
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, name);
    return MmGetSystemRoutineAddress(&s);
}

static char folded(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

static int sameName(const char* a, const char* b) {
    while (*a && folded(*a) == folded(*b))
        ++a, ++b;
    return folded(*a) == folded(*b);
}

static const uint8_t* directoryOf(PVOID base, USHORT entry) {
    DirectoryEntryToData entryToData = (DirectoryEntryToData)systemRoutine(L"RtlImageDirectoryEntryToData");
    ULONG size = 0;
    return entryToData ? entryToData(base, TRUE, entry, &size) : NULL;
}

/* An address inside the module `name` that the module at `base` imports:
 * the first entry of its import address table for that module, as the
 * loader filled it. Import descriptors: Name at 12, FirstThunk at 16. */
static PVOID addressImportedFrom(PVOID base, const char* name) {
    const uint8_t* image = (const uint8_t*)base;
    const uint8_t* descriptor = directoryOf(base, IMPORT_DIRECTORY);
    for (; descriptor && standInLe32(descriptor + 12); descriptor += IMPORT_DESCRIPTOR_SIZE)
        if (sameName((const char*)image + standInLe32(descriptor + 12), name))
            return *(PVOID const*)(image + standInLe32(descriptor + 16));
    return NULL;
}

/* The export `name` of the module at `base`, by its export directory:
 * NumberOfNames at 0x18, then the function, name and ordinal tables. */
static PVOID exportOf(PVOID base, const char* name) {
    const uint8_t* directory = directoryOf(base, EXPORT_DIRECTORY);
    if (!directory)
        return NULL;
    const uint8_t* image = (const uint8_t*)base;
    const uint32_t names = standInLe32(directory + 0x18);
    const uint32_t* functionTable = (const uint32_t*)(image + standInLe32(directory + 0x1C));
    const uint32_t* nameTable = (const uint32_t*)(image + standInLe32(directory + 0x20));
    const uint16_t* ordinalTable = (const uint16_t*)(image + standInLe32(directory + 0x24));
    for (uint32_t i = 0; i < names; ++i)
        if (sameName((const char*)image + nameTable[i], name))
            return (PVOID)(image + functionTable[ordinalTable[i]]);
    return NULL;
}

static ReadVirtualMemory findRead(void) {
    static ReadVirtualMemory found;
    if (found)
        return found;
    PcToFileHeader pcToFileHeader = (PcToFileHeader)systemRoutine(L"RtlPcToFileHeader");
    PVOID ntoskrnl = NULL, ntdll = NULL;
    if (!pcToFileHeader || !pcToFileHeader((PVOID)pcToFileHeader, &ntoskrnl) || !ntoskrnl)
        return NULL;
    PVOID inNtdll = addressImportedFrom(ntoskrnl, "ntdll.dll");
    if (inNtdll && pcToFileHeader(inNtdll, &ntdll) && ntdll)
        found = (ReadVirtualMemory)exportOf(ntdll, "NtReadVirtualMemory");
    return found;
}

NTSTATUS standInReadCallerMemory(IRP* irp, uint64_t address, void* into, SIZE_T length) {
    ReadVirtualMemory read = findRead();
    if (!read)
        return STATUS_PROCEDURE_NOT_FOUND;
    PEPROCESS caller = IoGetRequestorProcess(irp);
    if (!caller)
        return STATUS_INVALID_PARAMETER;
    /* No object type: Wine refuses the process type here. */
    HANDLE process = NULL;
    NTSTATUS status =
        ObOpenObjectByPointer(caller, OBJ_KERNEL_HANDLE, NULL, PROCESS_ALL_ACCESS, NULL, KernelMode, &process);
    if (!NT_SUCCESS(status))
        return status;
    SIZE_T done = 0;
    status = read(process, (PVOID)(ULONG_PTR)address, into, length, &done);
    ZwClose(process);
    if (NT_SUCCESS(status) && done != length)
        status = STATUS_PARTIAL_COPY;
    return status;
}
