// Programs the simulated machine can start with ShellExecuteExA. Each run is a
// simulated thread with a waitable process handle; it takes virtual time like
// any other thread.
#pragma once

#include "platform/sim/kept_records.h"
#include "platform/sim/kernel.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct ProgramRun {
    std::string file;
    std::string parameters;
    std::string verb;
    std::string directory;
    int show = 0;
    ULONG mask = 0;
    VirtualTime started = 0;
};

// A program's body: runs on its own simulated thread; the answer is the exit code.
using Program = std::function<DWORD(const ProgramRun&)>;

struct ProcessObject : ThreadObject {
    const char* kind() const override { return "process"; }
};

class Programs {
public:
    explicit Programs(Kernel& kernel) : kernel_(kernel) {}

    // Install `program` at the full path `file` (compared without regard to case).
    void install(const std::string& file, Program program);
    void uninstall(const std::string& file);
    bool installed(const std::string& file) const;
    std::vector<ProgramRun> runs() const;
    // A long run keeps only the latest `n` runs in runs(); runCount() counts
    // them all.
    void keepRuns(std::size_t n);
    std::uint64_t runCount() const;

    BOOL shellExecuteEx(SHELLEXECUTEINFOA* info);

    // Starts succeed without a process handle, whatever the caller asked: as
    // Windows does when no new process was made for the start.
    void setGivesNoProcessHandle(bool none) { givesNoProcessHandle_ = none; }

private:
    static std::string folded(const std::string& s);
    Kernel& kernel_;
    std::map<std::string, Program> programs_;
    KeptRecords<ProgramRun> runs_;
    bool givesNoProcessHandle_ = false;
};

} // namespace sim
