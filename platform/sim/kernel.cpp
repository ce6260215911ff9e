#include "platform/sim/kernel.h"

#include "platform/win32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sim {

namespace {
thread_local SimThread* tlsSelf = nullptr;
} // namespace

Kernel::Kernel() {
    // The thread that builds the machine is its main thread: it takes part in
    // the clock like any other, so time stands still while a test inspects.
    auto main = std::make_unique<SimThread>();
    main->id = nextThreadId_;
    nextThreadId_ += 4;
    main->name = "main";
    main_ = main.get();
    tlsSelf = main_;
    threads_.push_back(std::move(main));
    running_ = 1;
}

Kernel::~Kernel() {
    shutdown();
    if (tlsSelf == main_)
        tlsSelf = nullptr;
}

SimThread* Kernel::self() { return tlsSelf; }

VirtualTime Kernel::now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void Kernel::setTickStart(DWORD start) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Chosen so that GetTickCount reads `start` at this moment.
    tickStart_ = start - static_cast<DWORD>(now_);
}

DWORD Kernel::tickCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<DWORD>(tickStart_ + now_);
}

HANDLE Kernel::addHandle(std::shared_ptr<void> object, const char* kind, HandleSpace space) {
    std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = HandleEntry{std::move(object), kind, space};
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<void> Kernel::lookup(HANDLE h, HandleSpace space) const {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end() || it->second.space != space)
        return nullptr;
    return it->second.object;
}

std::shared_ptr<KernelObject> Kernel::lookupObject(HANDLE h) const {
    return std::static_pointer_cast<KernelObject>(lookup(h, HandleSpace::Kernel));
}

bool Kernel::closeHandle(HANDLE h, HandleSpace space) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end() || it->second.space != space)
        return false;
    handles_.erase(it);
    return true;
}

std::size_t Kernel::openHandles(HandleSpace space) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(handles_.begin(), handles_.end(), [&](const auto& e) { return e.second.space == space; }));
}

std::vector<std::string> Kernel::openHandleKinds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> kinds;
    for (const auto& e : handles_)
        kinds.push_back(e.second.kind);
    return kinds;
}

DWORD Kernel::block(std::unique_lock<std::mutex>& held, SimThread& t, std::optional<VirtualTime> deadline,
                    const char* where) {
    if (killing_)
        throw ThreadKilled{};
    t.blocked = true;
    t.woken = false;
    t.deadline = deadline;
    t.blockedIn = where;
    blocked_.push_back(&t);
    --running_;
    if (running_ == 0)
        advanceClock();
    t.wake.wait(held, [&] { return t.woken || killing_; });
    if (!t.woken) {
        blocked_.remove(&t);
        t.blocked = false;
        throw ThreadKilled{};
    }
    return t.result;
}

void Kernel::wake(SimThread& t, DWORD result) {
    if (&t != main_)
        ++workerWakeups_;
    blocked_.remove(&t);
    t.blocked = false;
    t.woken = true;
    t.result = result;
    t.deadline.reset();
    ++running_;
    t.wake.notify_one();
}

void Kernel::advanceClock() {
    while (running_ == 0 && !blocked_.empty()) {
        std::optional<VirtualTime> next;
        for (SimThread* t : blocked_)
            if (t->deadline && (!next || *t->deadline < *next))
                next = t->deadline;
        if (!next) {
            std::ostringstream report;
            report << "deadlock at " << now_ << " ms: every simulated thread waits with no deadline:";
            for (SimThread* t : blocked_)
                report << " [" << t->name << " in " << t->blockedIn << "]";
            deadlock_ = report.str();
            std::fprintf(stderr, "sim: %s\n", deadlock_.c_str());
            if (main_->blocked) {
                wake(*main_, kDeadlock);
                return;
            }
            std::abort();
        }
        now_ = std::max(now_, *next);
        std::vector<SimThread*> due;
        for (SimThread* t : blocked_)
            if (t->deadline && *t->deadline <= now_)
                due.push_back(t);
        for (SimThread* t : due)
            wake(*t, WAIT_TIMEOUT);
    }
}

bool Kernel::satisfiable(const SimThread& t, DWORD* index) const {
    if (t.waitObjects.empty())
        return false;
    if (t.waitAll) {
        for (const auto& o : t.waitObjects)
            if (!o->signaled())
                return false;
        *index = 0;
        return true;
    }
    for (std::size_t i = 0; i < t.waitObjects.size(); ++i) {
        if (t.waitObjects[i]->signaled()) {
            *index = static_cast<DWORD>(i);
            return true;
        }
    }
    return false;
}

void Kernel::objectsChanged() {
    // Waiters are served in the order they blocked, so an auto-reset event
    // goes to the longest waiter.
    std::vector<SimThread*> order(blocked_.begin(), blocked_.end());
    for (SimThread* t : order) {
        DWORD index = 0;
        if (!t->blocked || !satisfiable(*t, &index))
            continue;
        if (t->waitAll) {
            for (auto& o : t->waitObjects)
                o->acquire();
        } else {
            t->waitObjects[index]->acquire();
        }
        wake(*t, WAIT_OBJECT_0 + index);
    }
}

HANDLE Kernel::createThread(LPTHREAD_START_ROUTINE start, LPVOID arg, LPDWORD id) {
    auto obj = std::make_shared<ThreadObject>();
    HANDLE h = startThread(start, arg, obj, "thread", true, "");
    if (id)
        *id = obj->id;
    return h;
}

// A host thread keeps its stack until it is joined: without this a machine
// that starts tens of thousands of threads (a week of tool runs) runs out of
// memory mappings.
void Kernel::joinEnded() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (killing_)
            return; // shutdown joins them all
        for (DWORD id : ended_) {
            auto it = osThreads_.find(id);
            done.push_back(std::move(it->second));
            osThreads_.erase(it);
        }
        ended_.clear();
    }
    // Past the kernel lock: each has left threadMain and takes it no more.
    for (auto& th : done)
        th.join();
}

HANDLE Kernel::startThread(LPTHREAD_START_ROUTINE start, LPVOID arg, std::shared_ptr<ThreadObject> obj,
                           const char* kind, bool wantHandle, const std::string& name) {
    joinEnded();
    std::unique_lock<std::mutex> lock(mutex_);
    if (killing_)
        throw ThreadKilled{};
    auto rec = std::make_unique<SimThread>();
    SimThread* t = rec.get();
    t->id = nextThreadId_;
    nextThreadId_ += 4;
    t->name = name.empty() ? "thread " + std::to_string(t->id) : name;
    if (SimThread* creator = self()) {
        t->process = creator->process;
        t->integrity = creator->integrity;
    }
    threads_.push_back(std::move(rec));
    obj->id = t->id;
    HANDLE h = wantHandle ? addHandle(obj, kind, HandleSpace::Kernel) : nullptr;
    // Counted as running before it exists, so the clock cannot move between
    // this call and the new thread's first step.
    ++running_;
    osThreads_.emplace(t->id, std::thread([this, t, obj, start, arg] { threadMain(t, obj, start, arg); }));
    return h;
}

void Kernel::threadMain(SimThread* t, std::shared_ptr<ThreadObject> obj, LPTHREAD_START_ROUTINE start,
                        LPVOID arg) {
    tlsSelf = t;
    DWORD code = 0;
    try {
        code = start(arg);
    } catch (const ThreadKilled&) {
        code = ERROR_GEN_FAILURE;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    obj->exited = true;
    obj->exitCode = code;
    if (threadExitHook_)
        threadExitHook_(t->id);
    --running_;
    ended_.push_back(t->id);
    threads_.remove_if([t](const std::unique_ptr<SimThread>& p) { return p.get() == t; });
    tlsSelf = nullptr;
    if (killing_)
        return;
    objectsChanged();
    if (running_ == 0)
        advanceClock();
}

DWORD Kernel::wait(const HANDLE* handles, DWORD count, bool all, DWORD ms, const char* where) {
    std::unique_lock<std::mutex> lock(mutex_);
    SimThread* t = self();
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr)
        return SetLastError(ERROR_INVALID_PARAMETER), WAIT_FAILED;
    std::vector<std::shared_ptr<KernelObject>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto o = lookupObject(handles[i]);
        if (!o)
            return SetLastError(ERROR_INVALID_HANDLE), WAIT_FAILED;
        objects.push_back(std::move(o));
    }
    if (!t)
        misuse("a thread the machine does not know waits");
    t->waitObjects = std::move(objects);
    t->waitAll = all;
    DWORD index = 0;
    if (satisfiable(*t, &index)) {
        if (all)
            for (auto& o : t->waitObjects)
                o->acquire();
        else
            t->waitObjects[index]->acquire();
        t->waitObjects.clear();
        return WAIT_OBJECT_0 + index;
    }
    if (ms == 0) {
        t->waitObjects.clear();
        return WAIT_TIMEOUT;
    }
    std::optional<VirtualTime> deadline;
    if (ms != INFINITE)
        deadline = now_ + ms;
    DWORD r;
    try {
        r = block(lock, *t, deadline, where);
    } catch (...) {
        t->waitObjects.clear();
        throw;
    }
    t->waitObjects.clear();
    if (r == kDeadlock)
        return SetLastError(ERROR_POSSIBLE_DEADLOCK), WAIT_FAILED;
    return r;
}

void Kernel::sleep(DWORD ms) {
    if (ms == 0)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    SimThread* t = self();
    if (!t)
        misuse("a thread the machine does not know sleeps");
    std::optional<VirtualTime> deadline;
    if (ms != INFINITE)
        deadline = now_ + ms;
    block(lock, *t, deadline, "Sleep");
}

void Kernel::beginProcess(std::optional<Integrity> level, DWORD process) {
    std::lock_guard<std::mutex> lock(mutex_);
    SimThread* t = self();
    if (!t)
        misuse("a thread the machine does not know begins a process");
    t->process = process ? process : nextProcessId_++;
    if (level)
        t->integrity = *level;
}

void Kernel::initializeCriticalSection(LPCRITICAL_SECTION cs) {
    std::lock_guard<std::mutex> lock(mutex_);
    *cs = CRITICAL_SECTION{};
    criticalSections_[cs] = std::make_unique<CriticalSectionObject>();
}

void Kernel::deleteCriticalSection(LPCRITICAL_SECTION cs) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = criticalSections_.find(cs);
    if (it == criticalSections_.end())
        misuse("DeleteCriticalSection of a lock that is not initialised");
    if (it->second->owner || !it->second->waiters.empty())
        misuse("DeleteCriticalSection of a lock that is held or waited for");
    criticalSections_.erase(it);
}

void Kernel::enterCriticalSection(LPCRITICAL_SECTION cs) {
    std::unique_lock<std::mutex> lock(mutex_);
    SimThread* t = self();
    if (!t)
        misuse("a thread the machine does not know enters a critical section");
    auto it = criticalSections_.find(cs);
    if (it == criticalSections_.end())
        misuse("EnterCriticalSection of a lock that is not initialised");
    CriticalSectionObject& obj = *it->second;
    if (!obj.owner || obj.owner == t) {
        obj.owner = t;
        ++obj.recursion;
        cs->RecursionCount = obj.recursion;
        return;
    }
    obj.waiters.push_back(t);
    // Ownership is handed over by LeaveCriticalSection before the wake.
    if (block(lock, *t, std::nullopt, "EnterCriticalSection") == kDeadlock)
        misuse("deadlock while entering a critical section");
}

bool Kernel::tryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    std::lock_guard<std::mutex> lock(mutex_);
    SimThread* t = self();
    auto it = criticalSections_.find(cs);
    if (it == criticalSections_.end())
        misuse("TryEnterCriticalSection of a lock that is not initialised");
    CriticalSectionObject& obj = *it->second;
    if (obj.owner && obj.owner != t)
        return false;
    obj.owner = t;
    ++obj.recursion;
    cs->RecursionCount = obj.recursion;
    return true;
}

void Kernel::leaveCriticalSection(LPCRITICAL_SECTION cs) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = criticalSections_.find(cs);
    if (it == criticalSections_.end())
        misuse("LeaveCriticalSection of a lock that is not initialised");
    CriticalSectionObject& obj = *it->second;
    if (obj.owner != self())
        misuse("LeaveCriticalSection by a thread that does not own the lock");
    if (--obj.recursion > 0) {
        cs->RecursionCount = obj.recursion;
        return;
    }
    obj.owner = nullptr;
    cs->RecursionCount = 0;
    if (!obj.waiters.empty()) {
        SimThread* next = obj.waiters.front();
        obj.waiters.pop_front();
        obj.owner = next;
        obj.recursion = 1;
        cs->RecursionCount = 1;
        wake(*next, 0);
    }
}

std::size_t Kernel::liveCriticalSections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return criticalSections_.size();
}

std::string Kernel::deadlockReport() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deadlock_;
}

std::uint64_t Kernel::workerWakeups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return workerWakeups_;
}

std::size_t Kernel::threadCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
}

std::size_t Kernel::hostThreads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return osThreads_.size();
}

void Kernel::shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        killing_ = true;
        for (SimThread* t : blocked_)
            t->wake.notify_one();
    }
    for (auto& entry : osThreads_)
        if (entry.second.joinable())
            entry.second.join();
    osThreads_.clear();
    ended_.clear();
}

void Kernel::misuse(const char* what) const {
    std::fprintf(stderr, "sim: misuse of the platform: %s\n", what);
    std::abort();
}

} // namespace sim
