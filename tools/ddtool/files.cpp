#include "files.h"

#include "command_line.h"
#include "file_system.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace ddtool {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// A FILE that names a device on this system (on Windows nul.bin, COM1) is
// refused, whatever else: its temporary name would open the device too.
bool notADevice(const std::string& path, std::string& why) {
    const std::string device = fs::deviceName(path);
    if (!device.empty())
        why = path + " is the Windows device " + device + ", not a file";
    return device.empty();
}

} // namespace

bool readBlocks(const std::string& path, std::FILE* standardInput, std::vector<std::uint8_t>& data, std::string& why) {
    const bool standard = path == kStandardStream;
    const std::string name = standard ? "standard input" : path;
    if (!standard && !notADevice(path, why))
        return false;
    File opened(standard ? nullptr : std::fopen(path.c_str(), "rb"));
    std::FILE* f = standard ? standardInput : opened.get();
    if (!f) {
        why = reason("cannot open", name);
        return false;
    }
    data.clear();
    std::uint8_t chunk[64 * 1024];
    std::size_t n;
    // One byte past the largest transfer is enough to know it is too large.
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && data.size() <= kMaxBlocks * kBlockBytes)
        data.insert(data.end(), chunk, chunk + n);
    if (std::ferror(f)) {
        why = reason("cannot read", name);
        return false;
    }
    if (data.empty() || data.size() % kBlockBytes || data.size() > kMaxBlocks * kBlockBytes) {
        why = name + " holds " + std::to_string(data.size()) + (data.size() > kMaxBlocks * kBlockBytes ? "+" : "") +
              " bytes, not 1 to 65535 blocks of 512";
        return false;
    }
    return true;
}

bool OutputFile::prepare(const std::string& path, bool force, std::string& why) {
    // Before anything else: even a look at a device's name can open it.
    if (!notADevice(path, why))
        return false;
    switch (fs::kindOf(path)) {
    case fs::Kind::Missing:
        break;
    case fs::Kind::File:
        if (force)
            break;
        why = path + " exists: add --force to replace it";
        return false;
    case fs::Kind::Link:
        why = path + " is a link: name the file itself";
        return false;
    case fs::Kind::Other:
        why = path + " is not a file that can be replaced";
        return false;
    }
    force_ = force;
    return file_.create(path, why);
}

bool OutputFile::commit(const std::vector<std::uint8_t>& data, std::string& why) {
    return file_.write(data.data(), data.size(), why) && file_.place(force_, why);
}

} // namespace ddtool
