// sim::Machine: the one facade through which tests and the demo build a
// simulated Windows machine, drive it in virtual time and inspect it.
//
// One machine exists at a time; the thread that builds it becomes its main
// thread and takes part in the virtual clock like every simulated thread.
#pragma once

#include "platform/sim/devices.h"
#include "platform/sim/faults.h"
#include "platform/sim/files.h"
#include "platform/sim/heap.h"
#include "platform/sim/kernel.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/programs.h"
#include "platform/sim/records.h"
#include "platform/sim/registry.h"
#include "platform/sim/resources.h"
#include "platform/sim/system.h"
#include "platform/sim/windows.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct MachineOptions {
    DWORD tickCountStart = 0;  // GetTickCount's reading at virtual time 0
    bool administrator = true; // false: a process without administrative rights
    SystemConfig system = {};  // Windows 7 x64 unless told otherwise
};

class Machine {
  public:
    explicit Machine(MachineOptions options = {});
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine in use; aborts when there is none.
    static Machine& current();
    static bool exists();

    // Virtual time
    VirtualTime now() const { return kernel_.now(); }
    // Let `ms` of virtual time pass on the main thread while the simulated
    // threads run.
    void advance(DWORD ms);
    void setTickCountStart(DWORD start) { kernel_.setTickStart(start); }

    // Counters that show leaks
    std::size_t openHandles() const { return kernel_.openHandles(); }
    std::size_t openKeys() const { return kernel_.openHandles(HandleSpace::Key); }
    std::size_t openDeviceLists() const { return kernel_.openHandles(HandleSpace::DeviceList); }
    std::size_t heapBlocks() const { return heap_.liveBlocks(); }
    std::size_t liveCriticalSections() const { return kernel_.liveCriticalSections(); }
    std::vector<std::string> openHandleKinds() const { return kernel_.openHandleKinds(); }
    std::size_t threads() const { return kernel_.threadCount(); }
    std::size_t hostThreads() const { return kernel_.hostThreads(); }
    // Empty unless the machine found every thread waiting with no deadline.
    std::string deadlockReport() const { return kernel_.deadlockReport(); }

    Kernel& kernel() { return kernel_; }
    Registry& registry() { return registry_; }
    DeviceTree& devices() { return devices_; }
    Files& files() { return files_; }
    Heap& heap() { return heap_; }
    Programs& programs() { return programs_; }
    Windows& windows() { return windows_; }
    Resources& resources() { return resources_; }
    NotificationArea& notificationArea() { return notificationArea_; }
    // Read by the system-information calls; change it before the code under
    // test asks.
    SystemConfig& system() { return system_; }
    Faults& faults() { return faults_; }
    Records& records() { return records_; }

    // For the simulated functions: count the call, log it, and answer the
    // error an injected fault asks for.
    std::optional<std::uint32_t> enter(const char* function, std::string arguments);

    // Real time spent inside the file, device-control and heap calls: what a
    // benchmark subtracts from a caller's time to see the caller's own work.
    std::uint64_t platformNanoseconds() const { return platformNanoseconds_.load(); }
    void addPlatformNanoseconds(std::uint64_t ns) { platformNanoseconds_ += ns; }

  private:
    Kernel kernel_;
    Registry registry_;
    DeviceTree devices_;
    Files files_;
    Heap heap_;
    Programs programs_;
    Windows windows_;
    Resources resources_;
    NotificationArea notificationArea_;
    SystemConfig system_;
    Faults faults_;
    Records records_;
    std::atomic<std::uint64_t> platformNanoseconds_{0};
};

// Adds the real time of its own life to the machine's platform time.
class TimedCall {
  public:
    explicit TimedCall(Machine& m) : m_(m), start_(std::chrono::steady_clock::now()) {}
    ~TimedCall() {
        m_.addPlatformNanoseconds(static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count()));
    }
    TimedCall(const TimedCall&) = delete;
    TimedCall& operator=(const TimedCall&) = delete;

  private:
    Machine& m_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace sim
