#include "file_system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ddtool::fs {

namespace {

constexpr int kNameAttempts = 100;
// Made readable by the owner alone: nobody can open it while the blocks go
// in, and it gets its final permissions only when it is named.
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kNewFileMode = 0666;
// A replaced file's permission bits, not its set-user, set-group or sticky
// ones: the blocks of a card are not a program anyone should run as its owner.
constexpr mode_t kPermissionBits = 0777;

bool gByNameOnly = false;

// What the interrupt handler removes: the temporary name in its folder.
// Written only while it is disarmed.
int gInterruptFolder = -1;
char gInterruptName[NAME_MAX + 1];
volatile std::sig_atomic_t gArmed = 0;

void onInterrupt(int signal) {
    if (gArmed)
        unlinkat(gInterruptFolder, gInterruptName, 0);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A signal that was ignored when ddtool started (nohup, a background job)
// stays ignored.
void installHandlers() {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old = {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            struct sigaction a = {};
            a.sa_handler = onInterrupt;
            sigaction(s, &a, nullptr);
        }
    }
}

void removeOnInterrupt(int folder, const std::string& name) {
    static bool installed = false;
    if (!installed) {
        installHandlers();
        installed = true;
    }
    gArmed = 0;
    if (folder < 0 || name.size() >= sizeof gInterruptName)
        return;
    gInterruptFolder = folder;
    std::memcpy(gInterruptName, name.c_str(), name.size() + 1);
    gArmed = 1;
}

std::string failed(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `folder` is the file open as `file`, not following a link.
bool isFile(int folder, const std::string& name, const struct stat& file) {
    struct stat st = {};
    return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(st, file);
}

// The process's file-creation mask, which a new file's permissions follow.
mode_t creationMask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// `file` under `name` in `folder`, where no name is, linked through its
// handle: whatever now has the file's temporary name does not matter. False
// with errno: EEXIST when the name is taken, another when the system cannot
// link a handle here (no privilege for it and no /proc, or no hard links).
bool linkByHandle(int file, int folder, const std::string& name) {
    if (gByNameOnly) {
        errno = ENOTSUP;
        return false;
    }
    // Needs the privilege to search any folder, which an elevated ddtool has.
    if (linkat(file, "", folder, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file);
    return linkat(AT_FDCWD, self, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// By its temporary name, where no handle can be linked: renamed where no
// name is; on a file system that cannot, linked by that name; and on one
// without hard links either, renamed where no name was a moment ago.
bool renameWithoutReplacing(int folder, const std::string& from, const std::string& to) {
    if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
        unlinkat(folder, from.c_str(), 0);
        return true;
    }
    struct stat st = {};
    if (errno == EEXIST || fstatat(folder, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return renameat(folder, from.c_str(), folder, to.c_str()) == 0;
}

} // namespace

struct NewFile::Handles {
    int folder = -1, file = -1;
    std::string name, tempName; // in the folder
    struct stat st = {};        // the file's, from its handle
    int attempt = 0;            // the last name tried
};

Kind kindOf(const std::string& path) {
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Other;
    return S_ISLNK(st.st_mode) ? Kind::Link : S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

// Linux has no names that open a device instead of a file in any folder.
std::string deviceName(const std::string&) {
    return "";
}

void placeByNameOnlyForTests(bool on) {
    gByNameOnly = on;
}

NewFile::NewFile() : handles_(std::make_unique<Handles>()) {}

NewFile::~NewFile() {
    Handles& h = *handles_;
    if (!placed_ && h.file >= 0) {
        removeOnInterrupt(-1, "");
        // Only the name that is still this file's: what was swapped in stays.
        if (isFile(h.folder, h.tempName, h.st))
            unlinkat(h.folder, h.tempName.c_str(), 0);
    }
    if (h.file >= 0)
        close(h.file);
    if (h.folder >= 0)
        close(h.folder);
}

bool NewFile::create(const std::string& path, std::string& why) {
    Handles& h = *handles_;
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    h.name = path.substr(prefix.size());
    if (h.name.empty() || h.name == "." || h.name == "..") {
        why = path + " names a folder, not a file";
        return false;
    }
    // The folder as it is now, itself no link: what is made in it and named
    // in it stays in it, whatever is renamed around it meanwhile.
    h.folder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (h.folder < 0) {
        why = errno == ENOTDIR && kindOf(folder) == Kind::Link ? "cannot make a file beside " + path + ": its folder " +
                                                                     folder + " is a link: name the folder itself"
                                                               : failed("cannot make a file beside " + path);
        return false;
    }
    const std::string stem = h.name + "." + std::to_string(getpid());
    for (h.attempt = 0; h.attempt < kNameAttempts; ++h.attempt) {
        h.tempName = stem + (h.attempt ? "-" + std::to_string(h.attempt) : "") + ".part";
        // Exclusive, and no link followed: a name someone planted is passed by.
        h.file =
            openat(h.folder, h.tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateMode);
        if (h.file >= 0 || errno != EEXIST)
            break;
    }
    if (h.file < 0 || fstat(h.file, &h.st) != 0) {
        why = failed("cannot make a file beside " + path);
        return false;
    }
    path_ = path;
    temp_ = prefix + h.tempName;
    removeOnInterrupt(h.folder, h.tempName);
    return true;
}

bool NewFile::write(const std::uint8_t* data, std::size_t size, std::string& why) {
    while (size > 0) {
        const ssize_t n = ::write(handles_->file, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = failed("cannot write " + temp_);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool NewFile::place(bool replace, std::string& why) {
    Handles& h = *handles_;
    // A file whose every name was removed cannot be linked again, and what
    // has its name now is someone else's: nothing is named.
    struct stat now = {};
    if (fstat(h.file, &now) != 0 || now.st_nlink == 0) {
        why = temp_ + " was removed while the blocks were read: " + path_ + " was left as it was";
        return false;
    }
    // The permissions it ends with: a replaced file's, or a new file's.
    mode_t mode = kNewFileMode & ~creationMask();
    struct stat old = {};
    if (replace && fstatat(h.folder, h.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(old.st_mode)) {
            why = path_ +
                  (S_ISLNK(old.st_mode) ? " is a link: name the file itself" : " is not a file that can be replaced");
            return false;
        }
        // Its owner and group where this process may give them.
        if (fchown(h.file, old.st_uid, old.st_gid) != 0)
            (void)!fchown(h.file, static_cast<uid_t>(-1), old.st_gid);
        mode = old.st_mode & kPermissionBits;
    }
    if (fchmod(h.file, mode) != 0) {
        why = failed("cannot set the permissions of " + temp_);
        return false;
    }
    bool named = false;
    if (!replace) {
        // Linked only where no name is: nothing that appeared meanwhile is replaced.
        named = linkByHandle(h.file, h.folder, h.name);
        if (!named && errno == EEXIST) {
            why = path_ + " exists: add --force to replace it";
            return false;
        }
        if (!named && !renameWithoutReplacing(h.folder, h.tempName, h.name)) {
            why = errno == EEXIST ? path_ + " exists: add --force to replace it"
                                  : failed("cannot name the file " + path_);
            return false;
        }
    } else {
        // A second name linked through the handle, one nobody has seen,
        // renamed over the file at once; by its temporary name where no
        // handle can be linked.
        std::string second;
        for (int n = h.attempt + 1; n < h.attempt + kNameAttempts && second.empty(); ++n) {
            const std::string candidate = h.name + "." + std::to_string(getpid()) + "-" + std::to_string(n) + ".part";
            if (linkByHandle(h.file, h.folder, candidate))
                second = candidate;
            else if (errno != EEXIST)
                break;
        }
        const std::string& from = second.empty() ? h.tempName : second;
        if (renameat(h.folder, from.c_str(), h.folder, h.name.c_str()) != 0) {
            why = failed("cannot name the file " + path_);
            if (!second.empty())
                unlinkat(h.folder, second.c_str(), 0);
            return false;
        }
        named = !second.empty();
    }
    // A temporary name that is still this file's goes; what was swapped in stays.
    if (named && isFile(h.folder, h.tempName, h.st))
        unlinkat(h.folder, h.tempName.c_str(), 0);
    removeOnInterrupt(-1, "");
    placed_ = true;
    if (!isFile(h.folder, h.name, h.st)) {
        why = path_ + " is not the file ddtool wrote: " + temp_ +
              " was replaced while the blocks were read; nothing was written to what took its place";
        return false;
    }
    return true;
}

} // namespace ddtool::fs
