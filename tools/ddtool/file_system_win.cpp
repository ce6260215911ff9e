#include "file_system.h"

#include "windows_error.h"

#include <windows.h>

#include <cstring>

namespace ddtool::fs {

namespace {

constexpr int kNameAttempts = 100;

// What the console handler removes; written only while it is disarmed. The
// temporary file is closed while the card is read, so it can be deleted.
char gInterruptPath[MAX_PATH];
volatile LONG gArmed = 0;

BOOL WINAPI onInterrupt(DWORD) {
    if (gArmed)
        DeleteFileA(gInterruptPath);
    return FALSE; // and the process ends as it would have
}

std::string failed(const std::string& what) {
    return what + ": " + windowsError(GetLastError());
}

} // namespace

Kind kindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::Missing : Kind::Other;
    }
    // Symbolic links and junctions are reparse points.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Kind::Link;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE) ? Kind::Other : Kind::File;
}

bool createBeside(const std::string& path, std::string& temp, std::string& why) {
    const std::string stem = path + "." + std::to_string(GetCurrentProcessId());
    for (int n = 0; n < kNameAttempts; ++n) {
        temp = stem + (n ? "-" + std::to_string(n) : "") + ".part";
        const HANDLE h =
            CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    why = failed("cannot make a file beside " + path);
    temp.clear();
    return false;
}

bool moveOver(const std::string& from, const std::string& to, bool replace, std::string& why) {
    // Without MOVEFILE_REPLACE_EXISTING a file that appeared meanwhile stays.
    if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH : 0))
        return true;
    const DWORD error = GetLastError();
    why = !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
              ? to + " exists: add --force to replace it"
              : failed("cannot name the file " + to);
    return false;
}

void removeOnInterrupt(const std::string& path) {
    static bool installed = false;
    if (!installed)
        installed = SetConsoleCtrlHandler(onInterrupt, TRUE) != 0;
    InterlockedExchange(&gArmed, 0);
    if (path.empty() || path.size() >= sizeof gInterruptPath)
        return;
    std::memcpy(gInterruptPath, path.c_str(), path.size() + 1);
    InterlockedExchange(&gArmed, 1);
}

} // namespace ddtool::fs
