#include "service/device_enumeration.h"

#include "platform/scoped.h"
#include "service/trace.h"

#include <cctype>
#include <cstring>

namespace {

bool sameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Whole-string comparison without regard to case.
bool sameText(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (!sameLetter(*a, *b))
            return false;
    return *a == *b;
}

HDEVINFO allPresentDevices() {
    return SetupDiGetClassDevsExA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES, nullptr, nullptr,
                                  nullptr);
}

bool readListDetail(HDEVINFO list, SP_DEVINFO_LIST_DETAIL_DATA_A* detail) {
    std::memset(detail, 0, sizeof *detail);
    detail->cbSize = sizeof *detail;
    return SetupDiGetDeviceInfoListDetailA(list, detail) != FALSE;
}

bool nextElement(HDEVINFO list, DWORD index, SP_DEVINFO_DATA* element) {
    std::memset(element, 0, sizeof *element);
    element->cbSize = sizeof *element;
    return SetupDiEnumDeviceInfo(list, index, element) != FALSE;
}

// The element's instance identifier; empty when it cannot be read.
void readInstanceId(const SP_DEVINFO_DATA& element, HMACHINE machine, char (&id)[kDeviceIdBytes]) {
    id[0] = '\0'; // defined even when a call reports success and writes nothing
    if (CM_Get_Device_ID_ExA(element.DevInst, id, kDeviceIdBytes, 0, machine) != CR_SUCCESS)
        id[0] = '\0';
    id[kDeviceIdBytes - 1] = '\0';
}

// The walk shared by EnumerateDevicesStatus and EnumerateDevices: the first
// present device whose identifier matches, handed to `onMatch`.
struct Walk {
    const char* detailFailedTrace;
    int noMatchResult;
};

template <class OnMatch>
int walkForFirstMatch(HDEVINFO list, const char* pattern, const Walk& walk, OnMatch onMatch) {
    SP_DEVINFO_LIST_DETAIL_DATA_A detail;
    if (!readListDetail(list, &detail)) {
        SvcTrace("%s", walk.detailFailedTrace);
        return walk.noMatchResult;
    }
    SP_DEVINFO_DATA element;
    for (DWORD index = 0; nextElement(list, index, &element); ++index) {
        char id[kDeviceIdBytes];
        readInstanceId(element, detail.RemoteMachineHandle, id);
        if (MatchDeviceId(id, pattern))
            return onMatch(id, element);
    }
    return walk.noMatchResult;
}

// Does some present device carry `description`? Devices whose description
// cannot be read (none, or longer than the buffer) are passed over.
bool anyDeviceDescribedAs(HDEVINFO list, const char* description) {
    SP_DEVINFO_DATA element;
    for (DWORD index = 0; nextElement(list, index, &element); ++index) {
        char text[kDescriptionBytes] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(list, &element, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<PBYTE>(text), sizeof text, nullptr))
            continue;
        text[sizeof text - 1] = '\0';
        if (sameText(text, description))
            return true;
    }
    return false;
}

struct DriverSearch {
    const char* description;
    const char* listFailedTrace;
    const char* foundTrace;
    const char* notFoundTrace;
};

int findDriver(const DriverSearch& search) {
    ScopedDeviceList list(allPresentDevices());
    if (!list) {
        SvcTrace("%s", search.listFailedTrace);
        return 0;
    }
    bool found = anyDeviceDescribedAs(list.get(), search.description);
    list.reset();
    SvcTrace("%s", found ? search.foundTrace : search.notFoundTrace);
    return found ? 1 : 0;
}

} // namespace

int MatchDeviceId(const char* instanceId, const char* pattern) {
    std::size_t n = std::strlen(pattern);
    if (n > 0 && pattern[n - 1] == '*')
        --n;
    for (std::size_t i = 0; i < n; ++i) {
        if (instanceId[i] == '\0' || !sameLetter(instanceId[i], pattern[i]))
            return 0;
    }
    return 1;
}

int DumpDeviceStatus(HDEVINFO list, PSP_DEVINFO_DATA element) {
    SP_DEVINFO_LIST_DETAIL_DATA_A detail;
    if (!readListDetail(list, &detail)) {
        SvcTrace("DumpDeviceStatus: Error retrieving the device's status!");
        return 0;
    }
    ULONG status = 0;
    ULONG problem = 0;
    CONFIGRET cr = CM_Get_DevNode_Status_Ex(&status, &problem, element->DevInst, 0, detail.RemoteMachineHandle);
    if (cr == CR_NO_SUCH_DEVINST || cr == CR_NO_SUCH_VALUE) {
        SvcTrace("DumpDeviceStatus: Device is not present!");
        return 0;
    }
    if (cr != CR_SUCCESS) {
        SvcTrace("DumpDeviceStatus: Error retrieving the device's status!");
        return 0;
    }
    if ((status & DN_HAS_PROBLEM) && problem == CM_PROB_DISABLED) {
        SvcTrace("DumpDeviceStatus: Device is disabled!");
        return 0;
    }
    if (status & DN_HAS_PROBLEM) {
        SvcTrace("DumpDeviceStatus: The device has the following problem: %u!", static_cast<unsigned>(problem));
        return 0;
    }
    if (status & DN_PRIVATE_PROBLEM) {
        SvcTrace("DumpDeviceStatus: The driver reported a problem with the device!");
        return 0;
    }
    if (status & DN_STARTED) {
        SvcTrace("DumpDeviceStatus: Driver is running!");
        return 1;
    }
    return 0;
}

int EnumerateDevicesStatus(const char* pattern) {
    SvcTrace("Enter EnumerateDevicesStatus()");
    ScopedDeviceList list(allPresentDevices());
    if (!list) {
        SvcTrace("EnumerateDevicesStatus:SetupDiGetClassDevsEx failed");
        SvcTrace("Exit EnumerateDevicesStatus()");
        return 0;
    }
    int result = walkForFirstMatch(list.get(), pattern,
                                   Walk{"EnumerateDevicesStatus:SetupDiGetDeviceInfoListDetail failed", 0},
                                   [&](const char* id, SP_DEVINFO_DATA& element) {
                                       SvcTrace("EnumerateDevicesStatus: Find %s", id);
                                       return DumpDeviceStatus(list.get(), &element);
                                   });
    SvcTrace("EnumerateDevicesStatus:SetupDiDestroyDeviceInfoList() now");
    list.reset();
    SvcTrace("Exit EnumerateDevicesStatus()");
    return result;
}

int EnumerateDevices(const char* pattern) {
    ScopedDeviceList list(allPresentDevices());
    if (!list) {
        SvcTrace("EnumerateDevices:SetupDiGetClassDevsEx failed");
        return 2;
    }
    return walkForFirstMatch(list.get(), pattern, Walk{"EnumerateDevices:SetupDiGetDeviceInfoListDetail failed", 2},
                             [](const char* id, SP_DEVINFO_DATA&) {
                                 SvcTrace("\t**Find %s", id);
                                 return 0;
                             });
}

int FindHalvexDriver() {
    return findDriver(DriverSearch{kMakerDriverDescription, "FindHalvexDriver : GetClassDev failed!\n",
                                   "Found Halvex Integrated MMC/SD controller!\n",
                                   "NOT FOUND Halvex Integrated MMC/SD controller!\n"});
}

int FindMicrosoftDriver() {
    return findDriver(DriverSearch{kStandardDriverDescription, "FindMicrosoftDriver : GetClassDev failed!\n",
                                   "FOUND SDA Standard Compliant SD Host Controller\n",
                                   "NOT FOUND SDA Standard Compliant SD Host Controller!\n"});
}

std::optional<int> SdBusSettling::add(int sample, bool present) {
    if (present) {
        absentRun_ = 0;
        if (lastPresent_ == sample - 1)
            ++presentRun_;
        lastPresent_ = sample;
        if (presentRun_ > kRunToDecide)
            return 0;
    } else {
        presentRun_ = 0;
        if (lastAbsent_ == sample - 1)
            ++absentRun_;
        lastAbsent_ = sample;
        if (absentRun_ > kRunToDecide)
            return 1;
    }
    return std::nullopt;
}

int Check_SDBUSHasNotDevice_afterRemoveMessage(int) {
    SdBusSettling settling;
    for (int sample = 1; sample <= SdBusSettling::kSamples; ++sample) {
        Sleep(SdBusSettling::kSampleIntervalMs);
        bool present = EnumerateDevices(kSdBusPattern) == 0;
        if (auto decided = settling.add(sample, present)) {
            if (*decided == 1)
                SvcTrace("Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\* not exist!");
            else
                SvcTrace("Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\*  exist!");
            return *decided;
        }
    }
    SvcTrace("Check_SDBUSHasNotDevice_afterRemoveMessage :EnumerateDevices on SD\\*  exist!");
    return 0;
}
