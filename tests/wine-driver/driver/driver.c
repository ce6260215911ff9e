/*
 * The stand-in's entry: three devices and their names, and the requests
 * routed to them.
 *   - the controller, linked under the storage-port interface path that the
 *     registry-only PCI device's interface names (the tests add that device);
 *   - the card's drive, linked as drive E;
 *   - a control device through which the tests set the card and the
 *     misbehaviour, and read back every request the other two received.
 */
#include "stand_in.h"

static DEVICE_OBJECT* gController;
static DEVICE_OBJECT* gDisk;
static DEVICE_OBJECT* gControl;

static const WCHAR kControllerName[] = L"\\Device\\CardReaderStandInController";
static const WCHAR kControllerLink[] =
    L"\\??\\PCI#VEN_1B2C&DEV_0B21&SUBSYS_10001B2C&REV_01#4&1f0e2d3c&0&00E3#{2accfe60-c130-11d2-b082-00a0c91efb8b}";
static const WCHAR kDiskName[] = L"\\Device\\CardReaderStandInDisk";
static const WCHAR kDiskLink[] = L"\\??\\E:";
static const WCHAR kControlName[] = L"\\Device\\CardReaderStandInControl";
static const WCHAR kControlLink[] = L"\\??\\CardReaderStandInControl";

static NTSTATUS complete(IRP* irp, NTSTATUS status, ULONG_PTR answered) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? answered : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static uint32_t deviceKind(DEVICE_OBJECT* device) {
    return device == gController ? STAND_IN_CONTROLLER : device == gDisk ? STAND_IN_DISK : 0;
}

/* ---- the control device ---------------------------------------------- */

static NTSTATUS readLog(StandIn* s, StandInRequest* r, ULONG_PTR* answered) {
    if (r->inSize < 4 || r->outSize < sizeof(StandInLogHeader))
        return STATUS_INVALID_PARAMETER;
    StandInLogHeader header;
    header.total = s->logTotal;
    header.first = standInLe32(r->buffer);
    header.capacity = STAND_IN_LOG_CAPACITY;
    if (header.first > header.total)
        header.first = header.total;
    const uint32_t room = (r->outSize - sizeof header) / sizeof(StandInRecord);
    header.count = header.total - header.first < room ? header.total - header.first : room;
    RtlCopyMemory(r->buffer + sizeof header, &s->log[header.first], header.count * sizeof(StandInRecord));
    RtlCopyMemory(r->buffer, &header, sizeof header);
    *answered = sizeof header + header.count * sizeof(StandInRecord);
    return STATUS_SUCCESS;
}

static NTSTATUS control(StandIn* s, uint32_t code, StandInRequest* r, ULONG_PTR* answered) {
    switch (code) {
    case STAND_IN_RESET:
        standInReset(s);
        return STATUS_SUCCESS;
    case STAND_IN_SET_CARD:
        if (r->inSize != sizeof(StandInCard))
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(&s->card, r->buffer, sizeof s->card);
        /* Zero-terminated whatever the test sent. */
        s->card.vendor[sizeof s->card.vendor - 1] = 0;
        s->card.product[sizeof s->card.product - 1] = 0;
        s->addressSet = 0;
        return STATUS_SUCCESS;
    case STAND_IN_SET_RULE: {
        if (r->inSize != sizeof(StandInRule))
            return STATUS_INVALID_PARAMETER;
        StandInRule rule;
        RtlCopyMemory(&rule, r->buffer, sizeof rule);
        for (uint32_t i = 0; i < s->ruleCount; ++i)
            if (s->rules[i].code == rule.code) {
                s->rules[i] = rule; /* one rule per code: the latest */
                return STATUS_SUCCESS;
            }
        if (s->ruleCount == STAND_IN_RULE_CAPACITY)
            return STATUS_INSUFFICIENT_RESOURCES;
        s->rules[s->ruleCount++] = rule;
        return STATUS_SUCCESS;
    }
    case STAND_IN_CLEAR_RULES:
        s->ruleCount = 0;
        return STATUS_SUCCESS;
    case STAND_IN_CLEAR_LOG:
        s->logTotal = 0;
        return STATUS_SUCCESS;
    case STAND_IN_READ_LOG:
        return readLog(s, r, answered);
    case STAND_IN_READ_STATE:
        if (r->outSize < sizeof(StandInState))
            return STATUS_INVALID_PARAMETER;
        RtlCopyMemory(r->buffer, &s->state, sizeof s->state);
        *answered = sizeof s->state;
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* ---- dispatch ------------------------------------------------------------ */

static NTSTATUS NTAPI openOrClose(DEVICE_OBJECT* device, IRP* irp) {
    const uint32_t kind = deviceKind(device);
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (kind && major != IRP_MJ_CLEANUP) {
        StandIn* s = &gStandIn;
        ExAcquireFastMutex(&s->lock);
        if (major == IRP_MJ_CREATE)
            ++s->state.opens[kind - 1];
        else
            ++s->state.closes[kind - 1];
        standInLogRequest(s, kind, major, 0, NULL, 0, 0);
        ExReleaseFastMutex(&s->lock);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI deviceRequest(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    const int fsControl = stack->MajorFunction == IRP_MJ_FILE_SYSTEM_CONTROL;
    StandInRequest r;
    r.irp = irp;
    r.buffer = irp->AssociatedIrp.SystemBuffer;
    r.record = NULL;
    uint32_t code;
    if (fsControl) {
        code = stack->Parameters.FileSystemControl.FsControlCode;
        r.inSize = stack->Parameters.FileSystemControl.InputBufferLength;
        r.outSize = stack->Parameters.FileSystemControl.OutputBufferLength;
    } else {
        code = stack->Parameters.DeviceIoControl.IoControlCode;
        r.inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
        r.outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    }
    /* Only buffered requests: every code here is one, so the buffer is the
     * system's copy of both input and output. */
    if ((code & 3) != METHOD_BUFFERED)
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);

    StandIn* s = &gStandIn;
    ULONG_PTR answered = 0;
    NTSTATUS status;
    ExAcquireFastMutex(&s->lock);
    const uint32_t kind = deviceKind(device);
    if (!kind) {
        status = control(s, code, &r, &answered);
    } else {
        r.record = standInLogRequest(s, kind, stack->MajorFunction, code, r.buffer, r.inSize, r.outSize);
        if (kind == STAND_IN_CONTROLLER)
            status = code == STAND_IN_MINIPORT ? standInMiniport(s, &r, &answered) : STATUS_INVALID_DEVICE_REQUEST;
        else
            status = standInDiskControl(s, code, &r, &answered);
        if (r.record) {
            r.record->status = (uint32_t)status;
            r.record->returned = NT_SUCCESS(status) ? (uint32_t)answered : 0;
        }
    }
    ExReleaseFastMutex(&s->lock);
    return complete(irp, status, answered);
}

/* ---- load and unload ------------------------------------------------------ */

static void unlink(const WCHAR* link) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link);
    IoDeleteSymbolicLink(&name);
}

static NTSTATUS makeDevice(DRIVER_OBJECT* driver, const WCHAR* deviceName, const WCHAR* linkName, DEVICE_TYPE type,
                           DEVICE_OBJECT** device) {
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, deviceName);
    RtlInitUnicodeString(&link, linkName);
    NTSTATUS status = IoCreateDevice(driver, 0, &name, type, 0, FALSE, device);
    if (!NT_SUCCESS(status))
        return status;
    (*device)->Flags |= DO_BUFFERED_IO;
    (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        /* Wine's mount manager may hold the drive letter already: the
         * stand-in's drive takes it over. */
        IoDeleteSymbolicLink(&link);
        status = IoCreateSymbolicLink(&link, &name);
    }
    return status;
}

static void NTAPI unload(DRIVER_OBJECT* driver) {
    unlink(kControllerLink);
    unlink(kDiskLink);
    unlink(kControlLink);
    DEVICE_OBJECT* devices[] = {gController, gDisk, gControl};
    for (int i = 0; i < 3; ++i)
        if (devices[i])
            IoDeleteDevice(devices[i]);
    gController = gDisk = gControl = NULL;
    if (gStandIn.secureArea)
        ExFreePoolWithTag(gStandIn.secureArea, STAND_IN_POOL_TAG);
    if (gStandIn.log)
        ExFreePoolWithTag(gStandIn.log, STAND_IN_POOL_TAG);
    gStandIn.secureArea = NULL;
    gStandIn.log = NULL;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    (void)registryPath;
    ExInitializeFastMutex(&gStandIn.lock);
    gStandIn.log =
        ExAllocatePoolWithTag(NonPagedPool, STAND_IN_LOG_CAPACITY * sizeof(StandInRecord), STAND_IN_POOL_TAG);
    if (!gStandIn.log)
        return STATUS_INSUFFICIENT_RESOURCES;
    standInReset(&gStandIn);

    driver->DriverUnload = unload;
    driver->MajorFunction[IRP_MJ_CREATE] = openOrClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = openOrClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = openOrClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = deviceRequest;
    driver->MajorFunction[IRP_MJ_FILE_SYSTEM_CONTROL] = deviceRequest;

    NTSTATUS status = makeDevice(driver, kControlName, kControlLink, FILE_DEVICE_UNKNOWN, &gControl);
    if (NT_SUCCESS(status))
        status = makeDevice(driver, kControllerName, kControllerLink, FILE_DEVICE_CONTROLLER, &gController);
    if (NT_SUCCESS(status))
        status = makeDevice(driver, kDiskName, kDiskLink, FILE_DEVICE_DISK, &gDisk);
    if (!NT_SUCCESS(status))
        unload(driver);
    return status;
}
