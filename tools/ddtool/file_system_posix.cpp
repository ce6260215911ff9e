#include "file_system.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ddtool::fs {

namespace {

constexpr int kNameAttempts = 100;

// What the interrupt handler removes; written only while it is disarmed.
char gInterruptPath[4096];
volatile std::sig_atomic_t gArmed = 0;

void onInterrupt(int signal) {
    if (gArmed)
        unlink(gInterruptPath);
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

std::string failed(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

Kind kindOf(const std::string& path) {
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Kind::Missing : Kind::Other;
    return S_ISLNK(st.st_mode) ? Kind::Link : S_ISREG(st.st_mode) ? Kind::File : Kind::Other;
}

bool createBeside(const std::string& path, std::string& temp, std::string& why) {
    const std::string stem = path + "." + std::to_string(getpid());
    for (int n = 0; n < kNameAttempts; ++n) {
        temp = stem + (n ? "-" + std::to_string(n) : "") + ".part";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    why = failed("cannot make a file beside " + path);
    temp.clear();
    return false;
}

bool moveOver(const std::string& from, const std::string& to, bool replace, std::string& why) {
    // A hard link is made only where no name is: nothing that appeared
    // meanwhile is replaced.
    if (!replace && link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (!replace && (errno == EEXIST || kindOf(to) != Kind::Missing)) {
        why = to + " exists: add --force to replace it";
        return false;
    }
    // A file system without hard links: the name was free a moment ago.
    if (rename(from.c_str(), to.c_str()) != 0) {
        why = failed("cannot name the file " + to);
        return false;
    }
    return true;
}

void removeOnInterrupt(const std::string& path) {
    static bool installed = false;
    if (!installed) {
        installHandlers();
        installed = true;
    }
    gArmed = 0;
    if (path.empty() || path.size() >= sizeof gInterruptPath)
        return;
    std::memcpy(gInterruptPath, path.c_str(), path.size() + 1);
    gArmed = 1;
}

} // namespace ddtool::fs
