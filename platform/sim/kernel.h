// The simulated machine's kernel: handles, events, threads, critical sections,
// waits, and the virtual clock that drives them.
//
// Simulated threads are real threads. The clock moves only when every one of
// them is blocked in a platform call: it then jumps to the earliest deadline
// and wakes the threads due at it. A state where every thread waits and none
// has a deadline is a deadlock, reported rather than left to hang.
#pragma once

#include "platform/sim/win32_types.h"

#include <condition_variable>
#include <functional>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

using VirtualTime = std::uint64_t; // milliseconds since the machine started

// Thrown inside a simulated thread that is still blocked when its machine is
// torn down, so that the thread unwinds and can be joined.
struct ThreadKilled {};

// Which table a handle lives in: what CloseHandle closes, what RegCloseKey
// closes, what SetupDiDestroyDeviceInfoList destroys. Each is counted apart.
enum class HandleSpace { Kernel, Key, DeviceList };

struct KernelObject {
    virtual ~KernelObject() = default;
    virtual const char* kind() const = 0;
    virtual bool signaled() const { return false; }
    // A satisfied wait takes the signal (an auto-reset event resets).
    virtual void acquire() {}
};

struct EventObject : KernelObject {
    EventObject(bool manual, bool initial) : manualReset(manual), state(initial) {}
    const char* kind() const override { return "event"; }
    bool signaled() const override { return state; }
    void acquire() override {
        if (!manualReset)
            state = false;
    }
    bool manualReset;
    bool state;
};

struct ThreadObject : KernelObject {
    const char* kind() const override { return "thread"; }
    std::string name;
    bool signaled() const override { return exited; }
    DWORD id = 0;
    bool exited = false;
    DWORD exitCode = STILL_ACTIVE;
};

// A process's integrity level, as Vista and later keep it: a window takes
// from a sender of a lower level only what its message filter admits.
// Earlier Windows has no levels; every process there counts as Medium.
enum class Integrity { Low = 1, Medium = 2, High = 3, System = 4 };

// What the scheduler knows of one simulated thread.
struct SimThread {
    DWORD id = 0;
    std::string name;
    // The process the thread belongs to and its level: a new thread takes its
    // creator's, a program's run and beginProcess() make a new process.
    DWORD process = 1;
    Integrity integrity = Integrity::Medium;
    std::condition_variable wake;
    bool blocked = false;
    bool woken = false;
    std::optional<VirtualTime> deadline;
    std::vector<std::shared_ptr<KernelObject>> waitObjects;
    bool waitAll = false;
    const char* blockedIn = "";
    DWORD result = 0;
};

struct CriticalSectionObject {
    SimThread* owner = nullptr;
    LONG recursion = 0;
    std::list<SimThread*> waiters;
};

class Kernel {
public:
    // Result of block() when the machine found a deadlock instead of a wake.
    static constexpr DWORD kDeadlock = 0xDEADDEADu;

    Kernel();
    ~Kernel();

    std::mutex& lock() { return mutex_; }

    // The calling thread's scheduler record; null for a thread the machine
    // does not know.
    static SimThread* self();

    // Clock
    VirtualTime now() const;
    VirtualTime nowLocked() const { return now_; }
    void setTickStart(DWORD start);
    DWORD tickCount() const;

    // Handles
    HANDLE addHandle(std::shared_ptr<void> object, const char* kind, HandleSpace space);
    std::shared_ptr<void> lookup(HANDLE h, HandleSpace space) const;
    std::shared_ptr<KernelObject> lookupObject(HANDLE h) const;
    bool closeHandle(HANDLE h, HandleSpace space);
    std::size_t openHandles(HandleSpace space = HandleSpace::Kernel) const;
    std::vector<std::string> openHandleKinds() const;

    // Scheduling; all of these expect the kernel lock held.
    DWORD block(std::unique_lock<std::mutex>& held, SimThread& t, std::optional<VirtualTime> deadline,
                const char* where);
    void wake(SimThread& t, DWORD result);
    // Re-examine every blocked wait after an object became signalled.
    void objectsChanged();

    // API implementations (they take the lock themselves).
    HANDLE createThread(LPTHREAD_START_ROUTINE start, LPVOID arg, LPDWORD id);
    // Starts a simulated thread whose end signals `object` (a thread or a
    // process); answers its handle, or none when `wantHandle` is false.
    HANDLE startThread(LPTHREAD_START_ROUTINE start, LPVOID arg, std::shared_ptr<ThreadObject> object,
                       const char* kind, bool wantHandle, const std::string& name);
    DWORD wait(const HANDLE* handles, DWORD count, bool all, DWORD ms, const char* where);
    void sleep(DWORD ms);
    void enterCriticalSection(LPCRITICAL_SECTION cs);
    bool tryEnterCriticalSection(LPCRITICAL_SECTION cs);
    void leaveCriticalSection(LPCRITICAL_SECTION cs);
    void initializeCriticalSection(LPCRITICAL_SECTION cs);
    void deleteCriticalSection(LPCRITICAL_SECTION cs);
    std::size_t liveCriticalSections() const;

    // The calling thread becomes the first thread of a new process, at
    // `level` (or its creator's level when none is given): how a test starts
    // a copy of a program as its own process, elevated or not, and how a
    // program's run begins. `process` is an identifier reserved before, or 0
    // for a new one.
    void beginProcess(std::optional<Integrity> level = std::nullopt, DWORD process = 0);
    DWORD reserveProcessIdLocked() { return nextProcessId_++; }

    // Called under the kernel lock when a simulated thread ends (its windows
    // go with it).
    void setThreadExitHook(std::function<void(DWORD)> hook) { threadExitHook_ = std::move(hook); }

    std::string deadlockReport() const;
    std::size_t threadCount() const;
    // Host threads the machine holds: those running and those that ended
    // since the last thread started (each is joined, at the latest, when the
    // next one starts, so a long run holds no more than it runs).
    std::size_t hostThreads() const;
    // How often simulated threads other than the main one have been woken:
    // the cost of an idle service.
    std::uint64_t workerWakeups() const;

    // Ends every simulated thread (those still blocked unwind with
    // ThreadKilled) and joins them. Called by the machine's destructor.
    void shutdown();

private:
    void advanceClock();
    bool satisfiable(const SimThread& t, DWORD* index) const;
    void threadMain(SimThread* t, std::shared_ptr<ThreadObject> obj, LPTHREAD_START_ROUTINE start, LPVOID arg);
    [[noreturn]] void misuse(const char* what) const;

    struct HandleEntry {
        std::shared_ptr<void> object;
        std::string kind;
        HandleSpace space;
    };

    mutable std::mutex mutex_;
    VirtualTime now_ = 0;
    DWORD tickStart_ = 0;
    int running_ = 0;
    bool killing_ = false;
    DWORD nextThreadId_ = 0x100;
    DWORD nextProcessId_ = 2; // 1: the process of the machine's main thread
    std::uintptr_t nextHandle_ = 0x100;
    std::map<std::uintptr_t, HandleEntry> handles_;
    std::list<std::unique_ptr<SimThread>> threads_;
    std::list<SimThread*> blocked_;
    SimThread* main_ = nullptr;
    // By simulated thread id; `ended_` lists those whose routine returned
    // and that wait to be joined.
    std::map<DWORD, std::thread> osThreads_;
    std::vector<DWORD> ended_;
    void joinEnded();
    std::map<const CRITICAL_SECTION*, std::unique_ptr<CriticalSectionObject>> criticalSections_;
    std::string deadlock_;
    std::function<void(DWORD)> threadExitHook_;
    std::uint64_t workerWakeups_ = 0;
};

} // namespace sim
