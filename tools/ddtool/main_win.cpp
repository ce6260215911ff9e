// ddtool for Windows: Ferrocard.dll from ddtool's own folder, loaded as any
// SD application loads it, its exports taken by name.
#include "ddtool.h"
#include "windows_error.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kLibraryName = "Ferrocard.dll";
// VS_FIXEDFILEINFO's signature, where the version resource's numbers start.
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

// The DLL beside the program, by its full path, or nothing: a bare name
// would let the search path pick any Ferrocard.dll.
bool libraryPath(std::string& path, std::string& why) {
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    // 0 is a failure, and a full buffer a path cut short (XP does not even end it).
    const std::string program = n > 0 && n < sizeof self ? std::string(self, n) : std::string();
    const auto slash = program.find_last_of("\\/");
    if (slash == std::string::npos) {
        why = std::string("cannot load ") + kLibraryName +
              ": the path of ddtool.exe cannot be had: " + ddtool::windowsError(GetLastError());
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

// "0.0.2.6 (product version 1.0.2.0)" from the module's version resource:
// the library exports no version of its own.
std::string versionOf(HMODULE module) {
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(module, found) : 0;
    // The fixed part follows the block's header and its key, 32-bit aligned.
    for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof info);
        if (info.dwSignature != kFixedInfoSignature)
            continue;
        char text[96];
        std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu (product version %lu.%lu.%lu.%lu)",
                      info.dwFileVersionMS >> 16, info.dwFileVersionMS & 0xFFFF, info.dwFileVersionLS >> 16,
                      info.dwFileVersionLS & 0xFFFF, info.dwProductVersionMS >> 16, info.dwProductVersionMS & 0xFFFF,
                      info.dwProductVersionLS >> 16, info.dwProductVersionLS & 0xFFFF);
        return text;
    }
    return "(no version resource)";
}

class WindowsHost : public ddtool::Host {
  public:
    bool describeCard(const std::optional<std::string>& text, std::string& why) override {
        if (text)
            why = "--sim: the Windows build asks the card in the reader; only the Linux build simulates one";
        return !text;
    }

    std::string simUsage() const override { return ""; }

    const ddtool::Library* open(std::string& why) override {
        if (!libraryPath(path_, why))
            return nullptr;
        module_ = LoadLibraryA(path_.c_str());
        if (!module_) {
            why = "cannot load " + path_ + ": " + ddtool::windowsError(GetLastError());
            return nullptr;
        }
        ddtool::Library& l = library_;
        bool ok = resolve(module_, "DDSysInit", l.sysInit, why) & resolve(module_, "DDSysFini", l.sysFini, why) &
                  resolve(module_, "DDFini", l.fini, why) & resolve(module_, "DDSysDrive", l.sysDrive, why) &
                  resolve(module_, "DDChkSDCard", l.checkCard, why) & resolve(module_, "DDIdentify", l.identify, why) &
                  resolve(module_, "DDSecureIdentify", l.secureIdentify, why) &
                  resolve(module_, "DDGetMID", l.getMid, why) & resolve(module_, "DDReadMKB", l.readMkb, why) &
                  resolve(module_, "DDSecureRead", l.secureRead, why) &
                  resolve(module_, "DDSecureWrite", l.secureWrite, why) & resolve(module_, "DDReadPT", l.readPt, why) &
                  resolve(module_, "DDWritePT", l.writePt, why);
        return ok ? &library_ : nullptr;
    }

    std::string libraryVersion() const override {
        return std::string(kLibraryName) + " " + versionOf(module_) + ", " + path_;
    }

    std::FILE* standardInput() override {
        _setmode(_fileno(stdin), _O_BINARY);
        return stdin;
    }

    bool showsProgress() const override { return _isatty(_fileno(stderr)); }
    void progress(const std::string& text) override {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }

  private:
    ddtool::Library library_ = {};
    HMODULE module_ = nullptr;
    std::string path_;
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
    // Blocks pass unchanged; report lines keep the console's line ends.
    if (o.binary)
        _setmode(_fileno(stdout), _O_BINARY);
    return ddtool::emit(o, stdout, stderr);
}
