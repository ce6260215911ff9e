/*
 * Installs and starts the card-reader stand-in as a kernel service, or stops
 * and removes it:
 *   stand_in_service install   the driver file beside this program
 *   stand_in_service remove    also removes a controller entry a test left
 *
 * Always a 64-bit program: Wine starts a kernel service in the device host
 * of the architecture that asked for it, and only the 64-bit host loads the
 * x64 driver.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "reader_device.h"
#include "stand_in_protocol.h"

enum { kLimitMs = 10000, kPollMs = 10 };

static double nowMs(void) {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static int fail(const char* what) {
    printf("stand_in_service: %s: error %lu\n", what, GetLastError());
    return 1;
}

/* Waits for the service to reach `state`. */
static int reach(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status;
    for (int waited = 0; waited < kLimitMs; waited += kPollMs) {
        if (!QueryServiceStatus(service, &status))
            return 0;
        if (status.dwCurrentState == state)
            return 1;
        Sleep(kPollMs);
    }
    return 0;
}

/* Stops the service if it runs; a stopped one stays as it is. */
static int stop(SC_HANDLE service) {
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status))
        return 0;
    if (status.dwCurrentState == SERVICE_STOPPED)
        return 1;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return 0;
    return reach(service, SERVICE_STOPPED);
}

/* The control device opens once the driver has made its devices. */
static int controlDeviceOpens(void) {
    for (int waited = 0; waited < kLimitMs; waited += kPollMs) {
        HANDLE h = CreateFileA(STAND_IN_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return 1;
        }
        Sleep(kPollMs);
    }
    return 0;
}

static int install(SC_HANDLE manager) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    char* slash = n && n < sizeof path ? strrchr(path, '\\') : NULL;
    if (!slash || (size_t)(slash + 1 - path) + sizeof STAND_IN_DRIVER_FILE > sizeof path)
        return fail("the driver's path");
    strcpy(slash + 1, STAND_IN_DRIVER_FILE);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return fail(path);

    const double start = nowMs();
    SC_HANDLE service =
        CreateServiceA(manager, STAND_IN_SERVICE, STAND_IN_SERVICE, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL, NULL);
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        /* Left by a run that ended early: take it over, with this build's
         * driver, started afresh. */
        service = OpenServiceA(manager, STAND_IN_SERVICE, SERVICE_ALL_ACCESS);
        if (service &&
            (!stop(service) || !ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                                     SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL, NULL, NULL))) {
            CloseServiceHandle(service);
            return fail("taking over the service left behind");
        }
    }
    if (!service)
        return fail("CreateServiceA");
    const double created = nowMs();
    int ok = StartServiceA(service, 0, NULL) && reach(service, SERVICE_RUNNING);
    if (!ok)
        fail("StartServiceA");
    CloseServiceHandle(service);
    if (ok && !(ok = controlDeviceOpens()))
        fail("the control device");
    if (ok)
        printf("%s installed (%.1f ms) and started (%.1f ms): %s\n", STAND_IN_SERVICE, created - start,
               nowMs() - created, path);
    return ok ? 0 : 1;
}

static int removeService(SC_HANDLE manager) {
    readerDeviceRemove();
    SC_HANDLE service = OpenServiceA(manager, STAND_IN_SERVICE, SERVICE_ALL_ACCESS);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            return fail("OpenServiceA");
        printf("%s was not installed\n", STAND_IN_SERVICE);
        return 0;
    }
    const double start = nowMs();
    int ok = stop(service);
    if (!ok)
        fail("stopping the service");
    if (!DeleteService(service)) {
        fail("DeleteService");
        ok = 0;
    }
    CloseServiceHandle(service);
    if (ok)
        printf("%s stopped and removed (%.1f ms)\n", STAND_IN_SERVICE, nowMs() - start);
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 2 || (strcmp(argv[1], "install") && strcmp(argv[1], "remove"))) {
        printf("usage: stand_in_service install|remove\n");
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("OpenSCManagerA");
    int result = strcmp(argv[1], "install") ? removeService(manager) : install(manager);
    CloseServiceHandle(manager);
    return result;
}
