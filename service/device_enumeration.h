// Questions about the local device tree, each answered by a fresh walk over
// all present devices: is the controller running, which driver does it have,
// has the SD bus settled empty.
#pragma once

#include "platform/win32.h"

#include <optional>

constexpr const char* kMakerDriverDescription = "Halvex Integrated MMC/SD controller";
constexpr const char* kStandardDriverDescription = "SDA Standard Compliant SD Host Controller";
constexpr const char* kSdBusPattern = "sd\\*";

// Buffers the walks read into: the platform's longest instance identifier,
// and the longest description the service reads.
constexpr DWORD kDeviceIdBytes = MAX_DEVICE_ID_LEN;
constexpr DWORD kDescriptionBytes = 512;

// 1 when the first bytes of `instanceId` equal `pattern` without regard to
// case; a trailing '*' of the pattern is not compared.
int MatchDeviceId(const char* instanceId, const char* pattern);
// 1 when the element is started without a problem.
int DumpDeviceStatus(HDEVINFO list, PSP_DEVINFO_DATA element);
// DumpDeviceStatus of the first present device matching `pattern`; 0 if none.
int EnumerateDevicesStatus(const char* pattern);
// 0 when a present device matches `pattern`; 2 when none does.
int EnumerateDevices(const char* pattern);
int FindHalvexDriver();
int FindMicrosoftDriver();
// 1 when sampling finds the SD bus settled empty; 0 when it settled with a
// device on it or did not settle in 100 samples.
int Check_SDBUSHasNotDevice_afterRemoveMessage(int unused);

// The SD-bus check's decision, apart from the sampling: feed samples 1, 2,
// 3, ...; the first run of 17 equal samples decides.
class SdBusSettling {
public:
    static constexpr int kSamples = 100;
    static constexpr DWORD kSampleIntervalMs = 100;
    static constexpr int kRunToDecide = 15; // a counter above this decides: 17 equal samples

    // Answers 1 (settled empty) or 0 (settled with a device) once decided.
    std::optional<int> add(int sample, bool present);

private:
    int absentRun_ = 0;
    int presentRun_ = 0;
    int lastAbsent_ = -1;
    int lastPresent_ = -1;
};
