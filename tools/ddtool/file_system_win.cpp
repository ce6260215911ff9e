#include "file_system.h"

#include "device_names.h"
#include "windows_error.h"

#include <windows.h>

#include <aclapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace ddtool::fs {

namespace {

constexpr int kNameAttempts = 100;
// What one WriteFile is given at most: its count is 32-bit.
constexpr DWORD kLargestWrite = 0x10000000;

// The native call that sets an open file's information, present from XP on:
// SetFileInformationByHandle's own request (Vista on) with the same records,
// and the one that takes the folder's handle for a new name.
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileDispositionInformation = 13;

struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};
using NtSetInformationFileFn = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);

// The attributes a replaced file passes on; the read-only one would refuse
// the replacement itself, the others describe storage, not the file.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Sets one piece of information of an open file; the Win32 error as the last error.
bool setInformation(HANDLE file, void* information, ULONG size, ULONG kind) {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto set = reinterpret_cast<NtSetInformationFileFn>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "NtSetInformationFile") : nullptr));
    const auto toError = reinterpret_cast<RtlNtStatusToDosErrorFn>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr));
    if (!set || !toError) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    IoStatus io = {};
    const LONG status = set(file, &io, information, size, kind);
    if (status < 0)
        SetLastError(toError(status));
    return status >= 0;
}

bool markForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return setInformation(file, &disposition, sizeof disposition, kFileDispositionInformation);
}

// What the console handler marks for deletion, by its handle, before the
// process ends and the system closes it. Written only while it is disarmed.
HANDLE gInterruptFile = INVALID_HANDLE_VALUE;
volatile LONG gArmed = 0;

BOOL WINAPI onInterrupt(DWORD) {
    if (gArmed)
        markForDeletion(gInterruptFile);
    return FALSE; // and the process ends as it would have
}

void removeOnInterrupt(HANDLE file) {
    static bool installed = false;
    if (!installed)
        installed = SetConsoleCtrlHandler(onInterrupt, TRUE) != 0;
    InterlockedExchange(&gArmed, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    gInterruptFile = file;
    InterlockedExchange(&gArmed, 1);
}

std::string failed(const std::string& what) {
    return what + ": " + windowsError(GetLastError());
}

bool identity(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(h, &info) != 0;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// `path` opened to read what it is, itself and not what a link leads to.
HANDLE openItself(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

struct NewFile::Handles {
    HANDLE folder = INVALID_HANDLE_VALUE, file = INVALID_HANDLE_VALUE;
    std::wstring name; // in the folder
    BY_HANDLE_FILE_INFORMATION info = {};
};

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

std::string deviceName(const std::string& path) {
    return windowsDeviceName(path);
}

void placeByNameOnlyForTests(bool) {}

NewFile::NewFile() : handles_(std::make_unique<Handles>()) {}

NewFile::~NewFile() {
    Handles& h = *handles_;
    if (!placed_ && h.file != INVALID_HANDLE_VALUE) {
        removeOnInterrupt(INVALID_HANDLE_VALUE);
        markForDeletion(h.file);
    }
    if (h.file != INVALID_HANDLE_VALUE)
        CloseHandle(h.file);
    if (h.folder != INVALID_HANDLE_VALUE)
        CloseHandle(h.folder);
}

bool NewFile::create(const std::string& path, std::string& why) {
    Handles& h = *handles_;
    std::size_t cut = path.find_last_of("\\/");
    const bool drive = cut == std::string::npos && path.size() >= 2 && path[1] == ':';
    cut = cut != std::string::npos ? cut + 1 : drive ? 2 : 0;
    // "C:\" for the root, "C:." for a drive's current folder, "." for none.
    const std::string prefix = path.substr(0, cut);
    const std::string folder = prefix.empty()                             ? "."
                               : drive                                    ? prefix + "."
                               : cut == 1 || (cut == 3 && path[1] == ':') ? prefix
                                                                          : path.substr(0, cut - 1);
    const std::string name = path.substr(cut);
    if (name.empty() || name == "." || name == "..") {
        why = path + " names a folder, not a file";
        return false;
    }
    const int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    h.name.assign(static_cast<std::size_t>(wide > 0 ? wide : 0), L'\0');
    if (wide <= 0 ||
        MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &h.name[0], wide) != wide) {
        why = failed("cannot make a file beside " + path);
        return false;
    }
    // The folder, itself no junction or link, held so that nobody can
    // rename or remove it (no delete sharing) until the file has its name;
    // the name is given relative to this handle.
    h.folder = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION folderInfo = {};
    if (h.folder == INVALID_HANDLE_VALUE || !identity(h.folder, folderInfo)) {
        why = failed("cannot make a file beside " + path);
        return false;
    }
    // The handle's attributes say so on Windows; Wine tells it by its name alone.
    if ((folderInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || kindOf(folder) == Kind::Link) {
        why = "cannot make a file beside " + path + ": its folder " + folder + " is a link: name the folder itself";
        return false;
    }
    const std::string stem = path + "." + std::to_string(GetCurrentProcessId());
    for (int n = 0; n < kNameAttempts; ++n) {
        temp_ = stem + (n ? "-" + std::to_string(n) : "") + ".part";
        // Exclusive, and shared with nobody: no one else can open, rename or
        // delete it while it is held. Deleting and renaming it, and setting
        // its access list, go through this handle.
        h.file = CreateFileA(temp_.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC, 0,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h.file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (h.file == INVALID_HANDLE_VALUE || !identity(h.file, h.info)) {
        why = failed("cannot make a file beside " + path);
        return false;
    }
    path_ = path;
    removeOnInterrupt(h.file);
    return true;
}

bool NewFile::write(const std::uint8_t* data, std::size_t size, std::string& why) {
    while (size > 0) {
        const DWORD chunk = size > kLargestWrite ? kLargestWrite : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handles_->file, data, chunk, &written, nullptr) || written == 0) {
            why = failed("cannot write " + temp_);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool NewFile::place(bool replace, std::string& why) {
    Handles& h = *handles_;
    if (replace) {
        // What ReplaceFile keeps of the file it replaces, its access list and
        // attributes, copied by hand: ReplaceFile would open this file again
        // by its name.
        // A link is never replaced: its handle's attributes say so on
        // Windows; Wine tells a link to a folder by its name alone.
        if (kindOf(path_) == Kind::Link) {
            why = path_ + " is a link: name the file itself";
            return false;
        }
        const HANDLE old = openItself(path_, READ_CONTROL | FILE_READ_ATTRIBUTES);
        BY_HANDLE_FILE_INFORMATION oldInfo = {};
        if (old != INVALID_HANDLE_VALUE && identity(old, oldInfo)) {
            if (oldInfo.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
                CloseHandle(old);
                why = path_ + (oldInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT
                                   ? " is a link: name the file itself"
                                   : " is not a file that can be replaced");
                return false;
            }
            PACL dacl = nullptr;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            DWORD error = GetSecurityInfo(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                          nullptr, &descriptor);
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            if (error == ERROR_SUCCESS && GetSecurityDescriptorControl(descriptor, &control, &revision)) {
                // Protected from the folder's inheritance as the old one was, or not.
                const SECURITY_INFORMATION protection = control & SE_DACL_PROTECTED
                                                            ? PROTECTED_DACL_SECURITY_INFORMATION
                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION;
                error = SetSecurityInfo(h.file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | protection, nullptr,
                                        nullptr, dacl, nullptr);
            }
            if (descriptor)
                LocalFree(descriptor);
            // Zero leaves the new file's attributes as they are.
            FILE_BASIC_INFO basic = {};
            basic.FileAttributes = oldInfo.dwFileAttributes & kKeptAttributes;
            const bool attributes =
                !basic.FileAttributes || setInformation(h.file, &basic, sizeof basic, kFileBasicInformation);
            CloseHandle(old);
            if (error != ERROR_SUCCESS || !attributes) {
                if (error != ERROR_SUCCESS)
                    SetLastError(error);
                why = failed("cannot give " + temp_ + " the access list and attributes of " + path_);
                return false;
            }
        } else if (old != INVALID_HANDLE_VALUE) {
            CloseHandle(old);
        }
    }
    // Renamed through its handle, the new name relative to the folder's.
    std::vector<std::uint8_t> request(offsetof(FILE_RENAME_INFO, FileName) + (h.name.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(request.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = h.folder;
    rename->FileNameLength = static_cast<DWORD>(h.name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, h.name.data(), rename->FileNameLength);
    if (!setInformation(h.file, request.data(), static_cast<ULONG>(request.size()), kFileRenameInformation)) {
        const DWORD error = GetLastError();
        why = !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                  ? path_ + " exists: add --force to replace it"
                  : failed("cannot name the file " + path_);
        return false;
    }
    removeOnInterrupt(INVALID_HANDLE_VALUE);
    placed_ = true;
    // Windows lets nobody rename a file held without delete sharing; where
    // someone could all the same (a network share, another system's
    // emulation), what now has the name is checked to be this file.
    const HANDLE now = openItself(path_, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION nowInfo = {};
    const bool same = now != INVALID_HANDLE_VALUE && identity(now, nowInfo) && sameFile(nowInfo, h.info);
    if (now != INVALID_HANDLE_VALUE)
        CloseHandle(now);
    if (!same) {
        why = path_ + " is not the file ddtool wrote: " + temp_ +
              " was replaced while the blocks were read; nothing was written to what took its place";
        return false;
    }
    return true;
}

} // namespace ddtool::fs
