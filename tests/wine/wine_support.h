// What the Wine test programs and their helper programs share: the probe key
// through which a helper reports what it saw, the service's parameters key,
// a clock common to all processes, and helpers started and waited for with a
// time limit.
#pragma once

#include "service/parameters.h"

#include <windows.h>

#include <string>

namespace winetest {

// Helpers write what they saw under HKCU\<kProbeKey>; the tests read it back.
constexpr const char* kProbeKey = "Software\\CardwellWineTests";
constexpr const char* kProbeDevconTail = "DevconCommandTail";    // REG_SZ: the tool's command line after its path
constexpr const char* kProbeDevconSwitching = "DevconSwitching"; // DWORD: IsSwitchingDrv while the tool ran
constexpr const char* kProbeDevconRuns = "DevconRuns";           // DWORD: how many runs have ended
constexpr const char* kProbeWriterWroteAt = "WriterWroteAtUs";   // QWORD: the writer's clock just before its write
constexpr const char* kProbeBroadcastAt = "BroadcastAtUs";       // QWORD: the broadcaster's clock just before it sent

// What a DWORD read reports when the value was not there (the fake tool's
// report of IsSwitchingDrv, for one).
constexpr DWORD kValueAbsent = 0xFFFFFFFF;

// Microseconds on the performance counter, which all processes of the
// machine share (on Windows, and on Wine where it is the host's monotonic
// clock).
// The command line after the program's own path, as the program's C runtime
// would split it off: a quoted path ends at its closing quote, a bare one at
// the first blank.
inline const char* commandTail(const char* line) {
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

inline long long nowUs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart / frequency.QuadPart * 1000000 +
           count.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

// The folder this program was started from, with its trailing backslash.
inline std::string programFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, n < sizeof path ? n : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// Starts a program (command line with the program first); nullptr when it
// cannot be started.
inline HANDLE startProgram(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits up to `limitMs` for a started program and closes its handle. Answers
// its exit code; -1 when it was never started, -2 when it did not end in time
// (it is then ended, so that nothing outlives the test).
inline long finishProgram(HANDLE process, DWORD limitMs) {
    if (!process)
        return -1;
    long result = -2;
    if (WaitForSingleObject(process, limitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(process, 1);
    }
    CloseHandle(process);
    return result;
}

// Registry in a few words. Reads answer false when the value is absent or of
// another type.
inline bool setDword(HKEY root, const char* path, const char* name, DWORD value) {
    return RegSetKeyValueA(root, path, name, REG_DWORD, &value, sizeof value) == ERROR_SUCCESS;
}

inline bool setString(HKEY root, const char* path, const char* name, const std::string& value) {
    return RegSetKeyValueA(root, path, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1)) ==
           ERROR_SUCCESS;
}

inline bool setQword(HKEY root, const char* path, const char* name, long long value) {
    return RegSetKeyValueA(root, path, name, REG_QWORD, &value, sizeof value) == ERROR_SUCCESS;
}

inline bool readDword(HKEY root, const char* path, const char* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueA(root, path, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

inline bool readQword(HKEY root, const char* path, const char* name, long long* value) {
    DWORD size = sizeof *value;
    return RegGetValueA(root, path, name, RRF_RT_REG_QWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

inline bool readString(HKEY root, const char* path, const char* name, std::string* value) {
    char text[1024];
    DWORD size = sizeof text;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return false;
    *value = text;
    return true;
}

inline void deleteValue(HKEY root, const char* path, const char* name) {
    RegDeleteKeyValueA(root, path, name);
}

// The probe key emptied: nothing a helper reported before counts.
inline void clearProbe() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kProbeKey);
}

// The service's parameters key for one test, empty and volatile as the
// service makes it; removed at the end, together with the service's key when
// the test made that too.
class ParametersKey {
public:
    ParametersKey() {
        DWORD disposition = 0;
        HKEY service = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &service, &disposition) == ERROR_SUCCESS) {
            madeService_ = disposition == REG_CREATED_NEW_KEY;
            RegCloseKey(service);
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey); // whatever an earlier run left
        HKEY key = nullptr;
        made_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr) == ERROR_SUCCESS;
        if (made_)
            RegCloseKey(key);
    }
    ~ParametersKey() {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
        if (madeService_)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKey);
    }
    ParametersKey(const ParametersKey&) = delete;
    ParametersKey& operator=(const ParametersKey&) = delete;

    bool made() const { return made_; }
    bool set(const char* name, DWORD value) { return setDword(HKEY_LOCAL_MACHINE, kParametersKey, name, value); }
    bool read(const char* name, DWORD* value) { return readDword(HKEY_LOCAL_MACHINE, kParametersKey, name, value); }
    void remove(const char* name) { deleteValue(HKEY_LOCAL_MACHINE, kParametersKey, name); }

private:
    static constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\services\\HXSDCRDR";
    bool made_ = false;
    bool madeService_ = false;
};

} // namespace winetest
