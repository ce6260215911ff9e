// ddtool for Windows: Ferrocard.dll from ddtool's own folder, loaded as any
// SD application loads it, its exports taken by name.
#include "ddtool.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kLibraryName = "Ferrocard.dll";

// The DLL beside the program, by its full path, or nothing: a bare name
// would let the search path pick any Ferrocard.dll.
bool libraryPath(std::string& path, std::string& why) {
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    // 0 is a failure, and a full buffer a path cut short (XP does not even end it).
    const std::string program = n > 0 && n < sizeof self ? std::string(self, n) : std::string();
    const auto slash = program.find_last_of("\\/");
    if (slash == std::string::npos) {
        why = std::string("cannot load ") + kLibraryName + ": the path of ddtool.exe cannot be had (error " +
              std::to_string(GetLastError()) + ")";
        return false;
    }
    path = program.substr(0, slash + 1) + kLibraryName;
    if (path.size() >= MAX_PATH) {
        why = "cannot load " + path + ": the path is longer than " + std::to_string(MAX_PATH - 1) + " characters";
        return false;
    }
    return true;
}

template <typename Fn> bool resolve(HMODULE module, const char* name, Fn& fn, std::string& why) {
    // GetProcAddress answers a generic function pointer; the export's type is
    // the public header's.
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!fn && why.empty())
        why = std::string(kLibraryName) + " has no export " + name;
    return fn != nullptr;
}

class WindowsHost : public ddtool::Host {
  public:
    bool describeCard(const std::optional<std::string>& text, std::string& why) override {
        if (text)
            why = "--sim: the Windows build asks the card in the reader; only the Linux build simulates one";
        return !text;
    }

    const ddtool::Library* open(std::string& why) override {
        std::string path;
        if (!libraryPath(path, why))
            return nullptr;
        HMODULE module = LoadLibraryA(path.c_str());
        if (!module) {
            why = "cannot load " + path + ": error " + std::to_string(GetLastError());
            return nullptr;
        }
        ddtool::Library& l = library_;
        bool ok = resolve(module, "DDSysInit", l.sysInit, why) & resolve(module, "DDSysFini", l.sysFini, why) &
                  resolve(module, "DDFini", l.fini, why) & resolve(module, "DDSysDrive", l.sysDrive, why) &
                  resolve(module, "DDChkSDCard", l.checkCard, why) & resolve(module, "DDIdentify", l.identify, why) &
                  resolve(module, "DDSecureIdentify", l.secureIdentify, why) &
                  resolve(module, "DDGetMID", l.getMid, why) & resolve(module, "DDReadMKB", l.readMkb, why) &
                  resolve(module, "DDSecureRead", l.secureRead, why) &
                  resolve(module, "DDSecureWrite", l.secureWrite, why) & resolve(module, "DDReadPT", l.readPt, why) &
                  resolve(module, "DDWritePT", l.writePt, why);
        return ok ? &library_ : nullptr;
    }

    bool showsProgress() const override { return _isatty(_fileno(stderr)); }
    void progress(const std::string& text) override {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }

  private:
    ddtool::Library library_ = {};
};

// A crash ends the run with a line and exit code 3, not a debugger's dialog
// (under Wine, a debugger that lets the process end with 0).
LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "ddtool: crashed: exception %#lx at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    ExitProcess(3);
}

// The current folder leaves the DLL search path, where the system has the
// call (XP SP1 and later).
void searchNoCurrentFolder() {
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto set = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDllDirectoryA") : nullptr));
    if (set)
        set("");
}

} // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    searchNoCurrentFolder();
    WindowsHost host;
    const ddtool::Outcome o = ddtool::run(host, std::vector<std::string>(argv + 1, argv + argc));
    std::fputs(o.out.c_str(), stdout);
    std::fputs(o.err.c_str(), stderr);
    return o.exitCode;
}
