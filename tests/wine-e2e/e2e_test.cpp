// The real Cardwell.exe under Wine, end to end: the tray program as it ships,
// started in the test prefix with the card reader played around it. The
// maker's controller is a device in Wine's registry, the device-console tool
// is e2e_devcon.exe installed where the service looks for it, the card-reader
// driver is this program writing IsSDIOPresent, and the system's device-tree
// announcements are broadcasts. The service's own threads do the rest on
// their real clock: this test measures how long each step takes.
//
// Cardwell.exe runs from this program's folder, which is also its current
// directory, beside a planted cfgmgr32.dll and setupapi.dll that leave a
// marker when loaded: with WINEDLLOVERRIDES preferring native DLLs, as
// Windows does for DLLs that are not known ones, an import of either would
// take the planted one. Cardwell loads both from the system folder, where the
// cfgmgr32 stand-in is (Wine's own answers the device walks with nothing).
#include "e2e_fixture.h"

#include "../conformance/harness.h"

#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace winetest;

constexpr DWORD kDeviceId = 0x1234;
// The system is 64-bit Windows 7 whichever build runs: the 32-bit Cardwell.exe
// under WoW64 takes the x64 tool and package too.
constexpr const char* kStandardRun = "update C:\\windows\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\"";
constexpr const char* kMakerRun = "update C:\\windows\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\"";
constexpr WPARAM kTrayExit = 32771; // the tray menu's Exit

constexpr DWORD kStartLimitMs = 30000;
// SvcInit pauses 500 ms after starting its threads, then has the monitor look
// at the key once: a report written after this finds the service listening.
constexpr DWORD kServiceSettleMs = 1000;
constexpr DWORD kConsumeLimitMs = 2000;
constexpr DWORD kRunLimitMs = 15000;
constexpr DWORD kFlagLimitMs = 5000;
// Long enough for the request filter to take the tool's own announcement,
// wait out its quiet period and check the SD bus (about 4 s): whatever it
// decides shows by then.
constexpr DWORD kStaysMs = 6000;
// SvcCleanup waits at most 60 s for the workers; an idle service stops at
// once, so the program ends well within this.
constexpr DWORD kExitLimitMs = 20000;
// How long the tool takes in the roads that leave during a switch: long
// enough to be caught under way.
constexpr DWORD kHeldToolMs = 2000;
constexpr DWORD kPollMs = 5;
// An idle service makes no wait call at all; watched for this long.
constexpr DWORD kIdleMs = 30000;
// Planted beside Cardwell.exe (planted_dll.c); each leaves <name>.loaded.
constexpr const char* kPlantedDlls[] = {"cfgmgr32.dll", "setupapi.dll"};

// What the timings may be on an idle machine. The command comes after the
// filter's quiet period (more than 1.5 s, taken in 1 s waits: 2 s); the way
// back after the quiet period and two SD-bus checks of 17 samples 100 ms
// apart (2 s + 1.7 s + 1.7 s); the operator's own check after a switch to the
// standard driver, 1.7 s.
constexpr double kCommandMinMs = 1500, kCommandMaxMs = 3500;
constexpr double kWayBackMinMs = 5000, kWayBackMaxMs = 9000;
constexpr double kRecheckMinMs = 1500, kRecheckMaxMs = 4000;
constexpr double kFlagAfterToolMaxMs = 1000;
constexpr double kExitMaxMs = 10000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

double ms(long long us) {
    return static_cast<double>(us) / 1000.0;
}

std::string windowsDirectory() {
    char path[MAX_PATH];
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// ---------------------------------------------------------------------------
// The machine around the tray program, for one test: the parameters key as
// the driver's installation leaves it, the controller bound to the maker's
// driver, the stand-in tool installed, an SDIO card in the reader or not.
// Everything goes again at the end.
class Machine {
public:
    explicit Machine(bool cardInserted)
        : toolFolder_(windowsDirectory() + "\\inf\\hxsdc"), tool_(toolFolder_ + "\\devconx64.exe") {
        forget();
        ready_ = parameters_.made() && parameters_.set(kValueIsSupportSDIO, 1) &&
                 parameters_.set(kValueDeviceId, kDeviceId) && e2e::describeController(kMakerDriverDescription) &&
                 setCard(cardInserted);
        CreateDirectoryA(toolFolder_.c_str(), nullptr);
        toolInstalled_ = CopyFileA((programFolder() + "e2e_devcon.exe").c_str(), tool_.c_str(), FALSE) != FALSE;
        ok(ready_, "cannot set up the registry: error %u\n", u(GetLastError()));
        ok(toolInstalled_, "cannot install the tool as %s: error %u\n", tool_.c_str(), u(GetLastError()));
    }
    ~Machine() {
        DeleteFileA(tool_.c_str());
        forget();
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ready() const { return ready_ && toolInstalled_; }
    ParametersKey& parameters() { return parameters_; }
    bool setCard(bool inserted) { return setDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kCardInserted, inserted); }

private:
    // Whatever this test, or an earlier run that died, left.
    static void forget() {
        for (const char* dll : kPlantedDlls)
            DeleteFileA((programFolder() + dll + ".loaded").c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, e2e::kProbeKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, e2e::kProbeKey);
        e2e::removeSdioDevice();
        e2e::removeController();
    }

    ParametersKey parameters_; // made first, removed last
    std::string toolFolder_;
    std::string tool_;
    bool ready_ = false;
    bool toolInstalled_ = false;
};

// ---------------------------------------------------------------------------
// Every value the service writes in the parameters key, with when it was
// seen: a thread rearms a change notification on the key and reads the
// values at each change, within about a millisecond of the write.
struct Change {
    const char* name;
    DWORD value; // kValueAbsent while the value does not exist
    long long at;
};

class ValueWatch {
public:
    ValueWatch() {
        InitializeCriticalSection(&lock_);
        changed_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (changed_ && stop_ &&
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_NOTIFY | KEY_QUERY_VALUE, &key_) == ERROR_SUCCESS)
            thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
        ok(thread_ != nullptr, "cannot watch the parameters key: error %u\n", u(GetLastError()));
    }
    ~ValueWatch() {
        if (thread_) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, 5000);
            CloseHandle(thread_);
        }
        if (key_)
            RegCloseKey(key_);
        if (changed_)
            CloseHandle(changed_);
        if (stop_)
            CloseHandle(stop_);
        DeleteCriticalSection(&lock_);
    }
    ValueWatch(const ValueWatch&) = delete;
    ValueWatch& operator=(const ValueWatch&) = delete;

    // When `name` was first seen at `value` from `sinceUs` on, waiting up to
    // `limitMs` for it; 0 when it was not.
    long long waitFor(const char* name, DWORD value, long long sinceUs, DWORD limitMs) {
        for (long long deadline = nowUs() + limitMs * 1000LL;; Sleep(kPollMs)) {
            for (const Change& c : changes())
                if (std::strcmp(c.name, name) == 0 && c.value == value && c.at >= sinceUs)
                    return c.at;
            if (nowUs() > deadline)
                return 0;
        }
    }
    // The values `name` took, in order, leaving out its absence.
    std::vector<DWORD> valuesOf(const char* name) {
        std::vector<DWORD> values;
        for (const Change& c : changes())
            if (std::strcmp(c.name, name) == 0 && c.value != kValueAbsent)
                values.push_back(c.value);
        return values;
    }

private:
    std::vector<Change> changes() {
        EnterCriticalSection(&lock_);
        std::vector<Change> copy = changes_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

    void look() {
        static const char* const names[] = {kValueIsSDIOPresent, kValueIsSwitchingDrv, kValueDriverSwitchFlag};
        long long at = nowUs();
        for (std::size_t i = 0; i < 3; ++i) {
            DWORD value = kValueAbsent;
            DWORD size = sizeof value;
            if (RegQueryValueExA(key_, names[i], nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS)
                value = kValueAbsent;
            if (seen_[i] && last_[i] == value)
                continue;
            seen_[i] = true;
            last_[i] = value;
            EnterCriticalSection(&lock_);
            changes_.push_back(Change{names[i], value, at});
            LeaveCriticalSection(&lock_);
        }
    }

    static DWORD WINAPI run(LPVOID self) {
        ValueWatch& watch = *static_cast<ValueWatch*>(self);
        const HANDLE events[] = {watch.stop_, watch.changed_};
        for (;;) {
            // Armed before reading, so that no write between the two is lost.
            if (RegNotifyChangeKeyValue(watch.key_, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                        watch.changed_, TRUE) != ERROR_SUCCESS)
                return 1;
            watch.look();
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                return 0;
        }
    }

    CRITICAL_SECTION lock_;
    HANDLE changed_ = nullptr;
    HANDLE stop_ = nullptr;
    HKEY key_ = nullptr;
    HANDLE thread_ = nullptr;
    std::vector<Change> changes_;
    bool seen_[3] = {};
    DWORD last_[3] = {};
};

// ---------------------------------------------------------------------------
// The tool's log.
struct ToolRun {
    std::string commandLine;
    std::string parameters;
    DWORD switching = kValueAbsent;
    long long startUs = 0;
    long long endUs = 0;
};

DWORD runsStarted() {
    DWORD runs = 0;
    readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsStarted, &runs);
    return runs;
}

// Run `n` of the tool, once it has ended (waiting up to `limitMs`); false
// when it has not.
bool waitForRun(DWORD n, DWORD limitMs, ToolRun* run) {
    for (long long deadline = nowUs() + limitMs * 1000LL;; Sleep(kPollMs)) {
        DWORD ended = 0;
        if (readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsEnded, &ended) && ended >= n)
            break;
        if (nowUs() > deadline)
            return false;
    }
    const std::string key = e2e::runKey(n);
    readString(HKEY_CURRENT_USER, key.c_str(), e2e::kRunCommandLine, &run->commandLine);
    readString(HKEY_CURRENT_USER, key.c_str(), e2e::kRunParameters, &run->parameters);
    readDword(HKEY_CURRENT_USER, key.c_str(), e2e::kRunSwitching, &run->switching);
    readQword(HKEY_CURRENT_USER, key.c_str(), e2e::kRunStartUs, &run->startUs);
    readQword(HKEY_CURRENT_USER, key.c_str(), e2e::kRunEndUs, &run->endUs);
    return true;
}

// ---------------------------------------------------------------------------
// Cardwell.exe, started from this program's folder. A copy still running when
// the test ends is ended, so that nothing outlives the test.
class TrayProgram {
public:
    // `winedebug`, when given, is Wine's debug setting for this program
    // alone: its environment is this one's with WINEDEBUG replaced.
    explicit TrayProgram(const char* winedebug = nullptr) {
        const std::string folder = programFolder();
        std::string line = "\"" + folder + "Cardwell.exe\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::string environment;
        if (winedebug)
            environment = environmentWith("WINEDEBUG", winedebug);
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                           winedebug ? &environment[0] : nullptr, folder.c_str(), &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
            id_ = process.dwProcessId;
        }
        ok(process_ != nullptr, "cannot start %s: error %u\n", line.c_str(), u(GetLastError()));
    }
    ~TrayProgram() {
        if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 5000);
        }
        if (process_)
            CloseHandle(process_);
    }
    TrayProgram(const TrayProgram&) = delete;
    TrayProgram& operator=(const TrayProgram&) = delete;

    // A top-level window of this copy with the caption, once it exists.
    HWND window(const char* caption, DWORD limitMs) const {
        struct Search {
            const char* caption;
            DWORD process;
            HWND found;
            static BOOL CALLBACK visit(HWND window, LPARAM self) {
                Search& s = *reinterpret_cast<Search*>(self);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                char text[64] = "";
                GetWindowTextA(window, text, sizeof text);
                if (owner != s.process || std::strcmp(text, s.caption) != 0)
                    return TRUE;
                s.found = window;
                return FALSE;
            }
        };
        for (long long deadline = nowUs() + limitMs * 1000LL;; Sleep(10)) {
            Search search{caption, id_, nullptr};
            EnumWindows(Search::visit, reinterpret_cast<LPARAM>(&search));
            if (search.found || nowUs() > deadline)
                return search.found;
        }
    }
    bool running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    DWORD id() const { return id_; }
    // A 32-bit process on 64-bit Windows?
    bool underWow64() const {
        BOOL wow64 = FALSE;
        return process_ && IsWow64Process(process_, &wow64) && wow64;
    }
    // Waits up to `limitMs` for the program to end; its exit code, or -1.
    long waitForEnd(DWORD limitMs) const {
        DWORD code = 0;
        if (!process_ || WaitForSingleObject(process_, limitMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(process_, &code))
            return -1;
        return static_cast<long>(code);
    }

private:
    // This process's environment block with `name` set to `value`.
    static std::string environmentWith(const char* name, const char* value) {
        const std::string prefix = std::string(name) + "=";
        std::string block;
        if (char* strings = GetEnvironmentStringsA()) {
            for (const char* p = strings; *p; p += std::strlen(p) + 1)
                if (_strnicmp(p, prefix.c_str(), prefix.size()) != 0)
                    block.append(p).push_back('\0');
            FreeEnvironmentStringsA(strings);
        }
        block.append(prefix).append(value).push_back('\0');
        block.push_back('\0');
        return block;
    }

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Wine's relay trace of the wait calls, for the program started with
// kWineDebug: the trace goes to this test's standard error, which CTest
// sends to kLogName in this program's folder. Which calls are traced is
// HKCU\Software\Wine\Debug's RelayInclude, set for the test's length.
class WaitTrace {
public:
    static constexpr const char* kWineDebug = "+pid,+relay";
    static constexpr const char* kLogName = "relay.log";

    WaitTrace() : log_(programFolder() + kLogName) {
        ok(setString(HKEY_CURRENT_USER, kDebugKey, "RelayInclude", kWaits), "cannot set RelayInclude: error %u\n",
           u(GetLastError()));
        ok(GetFileAttributesA(log_.c_str()) != INVALID_FILE_ATTRIBUTES,
           "no %s: run the test through CTest, which sends its standard error there\n", log_.c_str());
    }
    ~WaitTrace() { deleteValue(HKEY_CURRENT_USER, kDebugKey, "RelayInclude"); }
    WaitTrace(const WaitTrace&) = delete;
    WaitTrace& operator=(const WaitTrace&) = delete;

    // From here on...
    void mark() { from_ = size(); }
    // ...how many wait calls process `id` has made; -1 when the trace cannot be read.
    long callsSinceMark(DWORD id) const {
        HANDLE file = CreateFileA(log_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return -1;
        std::string text;
        LARGE_INTEGER at;
        at.QuadPart = from_;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
            char chunk[65536];
            DWORD n = 0;
            while (ReadFile(file, chunk, sizeof chunk, &n, nullptr) && n > 0)
                text.append(chunk, n);
        }
        CloseHandle(file);
        // "<pid>:<tid>:Call KERNEL32.WaitForMultipleObjects(...)": the
        // process first, and of the DLLs' functions only the waits are
        // traced (window procedures and DLL entries are, too, as "Call
        // window proc", "Call PE DLL").
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%04lx:", static_cast<unsigned long>(id));
        long calls = 0;
        for (std::size_t line = 0; line < text.size();) {
            std::size_t end = text.find('\n', line);
            if (end == std::string::npos)
                break;
            const std::string l = text.substr(line, end - line);
            if (l.compare(0, std::strlen(prefix), prefix) == 0 && l.find(":Call KERNEL") != std::string::npos)
                ++calls;
            line = end + 1;
        }
        return calls;
    }

private:
    static constexpr const char* kDebugKey = "Software\\Wine\\Debug";
    // Every way a thread of the program could wait on its own.
    static constexpr const char* kWaits =
        "kernel32.WaitForMultipleObjects;kernelbase.WaitForMultipleObjects;"
        "kernel32.WaitForMultipleObjectsEx;kernelbase.WaitForMultipleObjectsEx;"
        "kernel32.WaitForSingleObject;kernelbase.WaitForSingleObject;"
        "kernel32.WaitForSingleObjectEx;kernelbase.WaitForSingleObjectEx;"
        "kernel32.Sleep;kernelbase.Sleep;kernel32.SleepEx;kernelbase.SleepEx";

    long long size() const {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(log_.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    }

    std::string log_;
    long long from_ = 0;
};

// How many processes of the machine run under one of these names.
int processesNamed(std::initializer_list<const char*> names) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        for (const char* name : names)
            if (lstrcmpiA(entry.szExeFile, name) == 0)
                ++count;
    CloseHandle(snapshot);
    return count;
}

// Whether the notification area holds the program's icon: changing nothing
// about an icon succeeds only when the taskbar has it.
bool iconPresent(HWND main) {
    NOTIFYICONDATAA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = NOTIFYICONDATAA_V2_SIZE;
    record.hWnd = main;
    record.uID = 2000;
    return Shell_NotifyIconA(NIM_MODIFY, &record) != FALSE;
}

DWORD switchingValue() {
    DWORD value = kValueAbsent;
    readDword(HKEY_LOCAL_MACHINE, kParametersKey, kValueIsSwitchingDrv, &value);
    return value;
}

// Started and listening: its main window, and the service's listener dialog,
// which the service makes last of its threads.
bool comesUp(const TrayProgram& tray) {
    long long start = nowUs();
    HWND main = tray.window("Cardwell", kStartLimitMs);
    ok(main != nullptr, "no \"Cardwell\" window within %u ms\n", u(kStartLimitMs));
    HWND listener = tray.window("IDD_DIALOG_SDIO", kStartLimitMs);
    ok(listener != nullptr, "no \"IDD_DIALOG_SDIO\" window within %u ms: the service did not start\n",
       u(kStartLimitMs));
    // By now the service has loaded every DLL it calls.
    for (const char* dll : kPlantedDlls)
        ok(GetFileAttributesA((programFolder() + dll + ".loaded").c_str()) == INVALID_FILE_ATTRIBUTES,
           "Cardwell.exe loaded the %s planted beside it\n", dll);
    if (!main || !listener)
        return false;
    trace("Cardwell.exe up in %.0f ms\n", ms(nowUs() - start));
    // The Cardwell.exe of this test's own build: the 32-bit one runs as on
    // 64-bit Windows, under WoW64.
    const bool thirtyTwoBit = sizeof(void*) == 4;
    ok(tray.underWow64() == thirtyTwoBit, "Cardwell.exe %s under WoW64\n", thirtyTwoBit ? "does not run" : "runs");
    Sleep(kServiceSettleMs);
    ok(runsStarted() == 0, "the tool ran before any report\n");
    return true;
}

// The driver's report of an SDIO card, and the service consuming it. Answers
// when it was written.
long long report(Machine& machine, ValueWatch& watch) {
    long long at = nowUs();
    ok(machine.parameters().set(kValueIsSDIOPresent, 1), "cannot write IsSDIOPresent\n");
    long long consumed = watch.waitFor(kValueIsSDIOPresent, 0, at, kConsumeLimitMs);
    ok(consumed != 0, "IsSDIOPresent = 1 not consumed within %u ms\n", u(kConsumeLimitMs));
    if (consumed)
        trace("IsSDIOPresent consumed %.1f ms after the report\n", ms(consumed - at));
    return at;
}

// Tool run `n`, which must be `parameters` with IsSwitchingDrv at `switching`.
// False when it has not ended in time: the road stops there.
bool expectRun(DWORD n, const char* parameters, DWORD switching, ToolRun* result) {
    ToolRun& run = *result;
    if (!ok(waitForRun(n, kRunLimitMs, &run), "tool run %u has not ended within %u ms (%u started)\n", u(n),
            u(kRunLimitMs), u(runsStarted())))
        return false;
    ok(run.parameters == parameters, "tool run %u was given \"%s\", not \"%s\"\n", u(n), run.parameters.c_str(),
       parameters);
    // Started from its file: its quoted full path, a blank, the parameters.
    const std::string line = "\"" + windowsDirectory() + "\\inf\\hxsdc\\devconx64.exe\" " + parameters;
    ok(run.commandLine == line, "tool run %u had the command line %s, not %s\n", u(n), run.commandLine.c_str(),
       line.c_str());
    ok(run.switching == switching, "tool run %u saw IsSwitchingDrv %#x, not %#x\n", u(n), u(run.switching),
       u(switching));
    return true;
}

// DriverSwitchFlag written as `value` after `run` ended; answers how long
// after, in ms (or -1).
double expectFlagAfter(ValueWatch& watch, const ToolRun& run, DWORD value) {
    long long at = watch.waitFor(kValueDriverSwitchFlag, value, run.startUs, kFlagLimitMs);
    ok(at != 0, "DriverSwitchFlag not %u within %u ms of the tool's end\n", u(value), u(kFlagLimitMs));
    if (!at || !run.endUs)
        return -1;
    double after = ms(at - run.endUs);
    ok(after >= 0 && after < kFlagAfterToolMaxMs, "DriverSwitchFlag %u written %.1f ms after the tool ended\n",
       u(value), after);
    return after;
}

void expectNothingMoreFor(DWORD quietMs, DWORD runs, DWORD flag, const char* bound) {
    Sleep(quietMs);
    ok(runsStarted() == runs, "%u tool runs, not %u, in %u ms more\n", u(runsStarted()), u(runs), u(quietMs));
    DWORD value = kValueAbsent;
    readDword(HKEY_LOCAL_MACHINE, kParametersKey, kValueDriverSwitchFlag, &value);
    ok(value == flag, "DriverSwitchFlag is %#x, not %u\n", u(value), u(flag));
    ok(e2e::controllerDescription() == bound, "the controller has \"%s\", not \"%s\"\n",
       e2e::controllerDescription().c_str(), bound);
}

// Exit from the tray menu ends the program, and nothing it started outlives it.
double exitFromTray(TrayProgram& tray) {
    HWND main = tray.window("Cardwell", 0);
    ok(main != nullptr, "the \"Cardwell\" window is gone before Exit\n");
    long long at = nowUs();
    ok(main && PostMessageA(main, WM_COMMAND, kTrayExit, 0), "cannot post Exit: error %u\n", u(GetLastError()));
    // The window goes as the program's modal run ends, before SvcCleanup
    // waits for the workers; the process ends after that.
    long long windowGoneAt = 0;
    long code = -1;
    for (long long deadline = at + kExitLimitMs * 1000LL; nowUs() < deadline;) {
        if (!windowGoneAt && !IsWindow(main))
            windowGoneAt = nowUs();
        code = tray.waitForEnd(kPollMs);
        if (code != -1)
            break;
    }
    double took = ms(nowUs() - at);
    if (windowGoneAt)
        trace("Exit: the window went after %.0f ms, the process after %.0f ms\n", ms(windowGoneAt - at), took);
    ok(code == 0, "Cardwell.exe ended with %ld after Exit (-1: not within %u ms)\n", code, u(kExitLimitMs));
    ok(took < kExitMaxMs, "Cardwell.exe took %.0f ms to end after Exit\n", took);
    ok(processesNamed({"Cardwell.exe", "devconx64.exe"}) == 0, "a Cardwell.exe or devconx64.exe process is left\n");
    return took;
}

void expectValues(ValueWatch& watch, const char* name, const std::vector<DWORD>& expected) {
    std::vector<DWORD> seen = watch.valuesOf(name);
    std::string text;
    for (DWORD v : seen)
        text += (text.empty() ? "" : ", ") + std::to_string(v);
    ok(seen == expected, "%s went through {%s}\n", name, text.c_str());
}

} // namespace

// An SDIO card goes in: the standard driver is bound about two seconds after
// the driver's report and stays while the card is in. The card leaves: the
// maker's driver comes back once the SD bus has settled empty.
CONFORMANCE_TEST(e2e_sdio_card_road) {
    Machine machine(true);
    if (!machine.ready())
        return;
    // Left by a run that ended mid-switch: the start sets it back to 0.
    ok(machine.parameters().set(kValueIsSwitchingDrv, kSwitchingToStandard), "cannot leave IsSwitchingDrv at 1\n");
    ValueWatch watch;
    TrayProgram tray;
    if (!comesUp(tray))
        return;
    ok(switchingValue() == 0, "IsSwitchingDrv left at 1 reads %#x after the start\n", u(switchingValue()));

    long long reportAt = report(machine, watch);
    ToolRun toStandard;
    if (!expectRun(1, kStandardRun, kSwitchingToStandard, &toStandard)) {
        exitFromTray(tray);
        return;
    }
    double command = ms(toStandard.startUs - reportAt);
    ok(command > kCommandMinMs && command < kCommandMaxMs, "the tool started %.0f ms after the report\n", command);
    double flagOn = expectFlagAfter(watch, toStandard, 1);
    ok(e2e::sdioDevicePresent(), "the SD bus shows no card under the standard driver\n");
    expectNothingMoreFor(kStaysMs, 1, 1, kStandardDriverDescription);

    ok(machine.setCard(false), "cannot take the card out\n");
    e2e::removeSdioDevice();
    long long removedAt = nowUs();
    ok(e2e::announceDeviceChange(), "cannot announce the device change: error %u\n", u(GetLastError()));
    ToolRun toMaker;
    if (!expectRun(2, kMakerRun, kSwitchingToMaker, &toMaker)) {
        exitFromTray(tray);
        return;
    }
    double wayBack = ms(toMaker.startUs - removedAt);
    ok(wayBack > kWayBackMinMs && wayBack < kWayBackMaxMs, "the tool started %.0f ms after the card left\n", wayBack);
    double flagOff = expectFlagAfter(watch, toMaker, 0);
    expectNothingMoreFor(kStaysMs, 2, 0, kMakerDriverDescription);

    double exit = exitFromTray(tray);
    expectValues(watch, kValueIsSwitchingDrv, {kSwitchingToStandard, 0, kSwitchingToStandard, 0, kSwitchingToMaker, 0});
    expectValues(watch, kValueDriverSwitchFlag, {1, 0});

    trace("report -> tool start %.0f ms (about 2000 by design); tool end -> DriverSwitchFlag 1 %.1f ms\n", command,
          flagOn);
    trace("card removed -> tool start %.0f ms (about 5400 by design); tool end -> DriverSwitchFlag 0 %.1f ms\n",
          wayBack, flagOff);
    trace("Exit -> process ended %.0f ms\n", exit);
}

// With no card the program, once up, sits idle and makes no wait call (its
// request filter waits without a time-out). Then the driver reports an SDIO
// card but the standard driver finds nothing on the SD bus: the service
// switches back to the maker's driver at once.
CONFORMANCE_TEST(e2e_no_card_switches_back) {
    Machine machine(false);
    if (!machine.ready())
        return;
    ValueWatch watch;
    WaitTrace waits;
    TrayProgram tray(WaitTrace::kWineDebug);
    if (!comesUp(tray))
        return;

    // Up, with no card and nothing to do: no thread of it wakes.
    waits.mark();
    Sleep(kIdleMs);
    long idleWaits = waits.callsSinceMark(tray.id());
    ok(idleWaits == 0, "Cardwell.exe made %ld wait calls in %u ms with nothing to do\n", idleWaits, u(kIdleMs));

    long long reportAt = report(machine, watch);
    ToolRun toStandard;
    if (!expectRun(1, kStandardRun, kSwitchingToStandard, &toStandard)) {
        exitFromTray(tray);
        return;
    }
    double command = ms(toStandard.startUs - reportAt);
    ok(command > kCommandMinMs && command < kCommandMaxMs, "the tool started %.0f ms after the report\n", command);
    double flagOn = expectFlagAfter(watch, toStandard, 1);
    ToolRun toMaker;
    if (!expectRun(2, kMakerRun, kSwitchingToMaker, &toMaker)) {
        exitFromTray(tray);
        return;
    }
    double recheck = ms(toMaker.startUs - toStandard.endUs);
    ok(recheck > kRecheckMinMs && recheck < kRecheckMaxMs, "the way back started %.0f ms after the first run\n",
       recheck);
    double flagOff = expectFlagAfter(watch, toMaker, 0);
    ok(!e2e::sdioDevicePresent(), "an SD-bus device with no card in the reader\n");
    expectNothingMoreFor(kStaysMs, 2, 0, kMakerDriverDescription);

    double exit = exitFromTray(tray);
    expectValues(watch, kValueIsSwitchingDrv, {kSwitchingToStandard, 0, kSwitchingToMaker, 0});
    expectValues(watch, kValueDriverSwitchFlag, {1, 0});

    trace("report -> tool start %.0f ms; tool end -> DriverSwitchFlag 1 %.1f ms\n", command, flagOn);
    trace("first tool end -> second tool start %.0f ms (the SD-bus check, about 1700 by design); "
          "tool end -> DriverSwitchFlag 0 %.1f ms\n",
          recheck, flagOff);
    trace("idle %u s with no card: %ld wait calls\n", u(kIdleMs / 1000), idleWaits);
    trace("Exit -> process ended %.0f ms\n", exit);
}

// WM_INITDIALOG posted from another process to every window of the program,
// with no object and with a made-up one: the program goes on switching, and
// Exit still ends it.
CONFORMANCE_TEST(e2e_forged_init_dialog) {
    Machine machine(true);
    if (!machine.ready())
        return;
    ValueWatch watch;
    TrayProgram tray;
    if (!comesUp(tray))
        return;
    struct Forger {
        DWORD process;
        int posted;
        static BOOL CALLBACK visit(HWND window, LPARAM self) {
            Forger& f = *reinterpret_cast<Forger*>(self);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == f.process)
                for (LPARAM lParam : {LPARAM{0}, LPARAM{0x5a5a5a50}})
                    f.posted += PostMessageA(window, WM_INITDIALOG, 0, lParam) != FALSE;
            return TRUE;
        }
    } forger{0, 0};
    GetWindowThreadProcessId(tray.window("Cardwell", 0), &forger.process);
    EnumWindows(Forger::visit, reinterpret_cast<LPARAM>(&forger));
    ok(forger.posted >= 6, "WM_INITDIALOG posted %d times: not to the main window and both listener windows\n",
       forger.posted);
    Sleep(500);
    ok(tray.running(), "Cardwell.exe ended after the forged messages\n");

    report(machine, watch);
    ToolRun toStandard;
    if (expectRun(1, kStandardRun, kSwitchingToStandard, &toStandard)) {
        expectFlagAfter(watch, toStandard, 1);
        expectNothingMoreFor(kStaysMs, 1, 1, kStandardDriverDescription);
    }
    trace("%d forged WM_INITDIALOG posted; Exit -> process ended %.0f ms\n", forger.posted, exitFromTray(tray));
}

// The program is left while its service switches: by the sign-out (the
// system's WM_QUERYENDSESSION, then WM_ENDSESSION; Wine ends no process
// after them, so the test sends both itself) and by a Cancel posted by another
// program. Either way the switch finishes, the service stops, the icon goes
// and the process ends by itself; after the sign-out all of it is done before
// the program answers.
CONFORMANCE_TEST(e2e_ways_out_during_a_switch) {
    for (const bool signOut : {true, false}) {
        const char* way = signOut ? "the sign-out" : "a posted Cancel";
        Machine machine(true);
        if (!machine.ready())
            return;
        ok(setDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kHoldMs, kHeldToolMs), "cannot hold the tool\n");
        ValueWatch watch;
        TrayProgram tray;
        if (!comesUp(tray))
            return;
        HWND main = tray.window("Cardwell", 0);
        ok(iconPresent(main), "no icon before %s\n", way);
        report(machine, watch);
        for (long long deadline = nowUs() + kRunLimitMs * 1000LL; runsStarted() < 1 && nowUs() < deadline;)
            Sleep(kPollMs);
        if (!ok(runsStarted() == 1, "the tool did not start within %u ms\n", u(kRunLimitMs))) {
            exitFromTray(tray);
            return;
        }
        ok(switchingValue() == kSwitchingToStandard, "IsSwitchingDrv is %#x while the tool runs\n",
           u(switchingValue()));

        long long at = nowUs();
        if (signOut) {
            DWORD_PTR agreed = 0;
            ok(SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &agreed) &&
                   agreed,
               "WM_QUERYENDSESSION not answered yes\n");
            DWORD_PTR answer = 0;
            ok(SendMessageTimeoutA(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, kExitLimitMs, &answer),
               "WM_ENDSESSION not answered within %u ms: error %u\n", u(kExitLimitMs), u(GetLastError()));
            trace("WM_ENDSESSION answered after %.0f ms\n", ms(nowUs() - at));
            DWORD ended = 0;
            readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsEnded, &ended);
            ok(ended == 1, "the program answered WM_ENDSESSION before the tool's run ended\n");
            ok(switchingValue() == 0, "IsSwitchingDrv is %#x as the program answers\n", u(switchingValue()));
            ok(!iconPresent(main), "the icon is still there as the program answers\n");
        } else {
            ok(PostMessageA(main, WM_COMMAND, IDCANCEL, 0), "cannot post Cancel: error %u\n", u(GetLastError()));
        }
        long code = tray.waitForEnd(kExitLimitMs);
        ok(code == 0, "Cardwell.exe ended with %ld after %s (-1: not within %u ms)\n", code, way, u(kExitLimitMs));
        trace("%s during a switch: the process ended %.0f ms later\n", way, ms(nowUs() - at));
        DWORD ended = 0;
        readDword(HKEY_CURRENT_USER, e2e::kProbeKey, e2e::kRunsEnded, &ended);
        ok(ended == 1, "the tool's run did not finish (%u ended)\n", u(ended));
        ok(switchingValue() == 0, "IsSwitchingDrv is %#x after %s\n", u(switchingValue()), way);
        ok(!iconPresent(main), "the icon is left after %s\n", way);
        ok(processesNamed({"Cardwell.exe", "devconx64.exe"}) == 0, "a Cardwell.exe or devconx64.exe process is left\n");
    }
}
