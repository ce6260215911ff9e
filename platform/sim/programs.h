// Programs the simulated machine can start with CreateProcessA. Each run is a
// simulated thread, the first of a process of its own, with a waitable
// process handle; it takes virtual time like any other thread.
#pragma once

#include "platform/sim/kept_records.h"
#include "platform/sim/kernel.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct ProgramRun {
    std::string application; // the application name as given; empty when none was
    std::string commandLine; // the command line as given
    std::string file;        // the program started
    std::string parameters;  // the command line after the program's own name: its arguments
    std::string directory;   // the current directory given; empty when none was
    int show = SW_SHOWDEFAULT; // the start-up record's show command, when it says to use one
    DWORD creationFlags = 0;
    bool inheritHandles = false;
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

    // CreateProcessA. The application name, when given, is the program, taken
    // as it stands; without one, the command line's first word is (in
    // quotes, or up to the first blank). No file association is looked at:
    // the process is made from the program file itself.
    BOOL createProcess(LPCSTR application, LPSTR commandLine, BOOL inheritHandles, DWORD creationFlags,
                       LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information);

    // Starts succeed without a process handle, whatever the caller asked: not
    // what Windows does, a broken promise for the caller to survive.
    void setGivesNoProcessHandle(bool none) { givesNoProcessHandle_ = none; }

    // The command line after its first word, as a program finds its arguments.
    static std::string arguments(const std::string& commandLine);

private:
    static std::string folded(const std::string& s);
    Kernel& kernel_;
    std::map<std::string, Program> programs_;
    KeptRecords<ProgramRun> runs_;
    bool givesNoProcessHandle_ = false;
};

} // namespace sim
