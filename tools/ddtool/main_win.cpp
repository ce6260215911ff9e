// ddtool for Windows: Ferrocard.dll from ddtool's own folder, loaded as any
// SD application loads it, its exports taken by name.
#include "ddtool.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kLibraryName = "Ferrocard.dll";

// The DLL beside the program, not one found on the search path.
std::string libraryPath() {
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n < sizeof self ? n : 0);
    const auto slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kLibraryName;
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
        const std::string path = libraryPath();
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

} // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(reportCrash);
    WindowsHost host;
    const ddtool::Outcome o = ddtool::run(host, std::vector<std::string>(argv + 1, argv + argc));
    std::fputs(o.out.c_str(), stdout);
    std::fputs(o.err.c_str(), stderr);
    return o.exitCode;
}
