#include "files.h"

#include "command_line.h"

#include <cerrno>
#include <cstdio>
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

} // namespace

bool readBlocks(const std::string& path, std::vector<std::uint8_t>& data, std::string& why) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        why = reason("cannot open", path);
        return false;
    }
    data.clear();
    std::uint8_t chunk[64 * 1024];
    std::size_t n;
    // One byte past the largest transfer is enough to know it is too large.
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0 && data.size() <= kMaxBlocks * kBlockBytes)
        data.insert(data.end(), chunk, chunk + n);
    if (std::ferror(f.get())) {
        why = reason("cannot read", path);
        return false;
    }
    if (data.empty() || data.size() % kBlockBytes || data.size() > kMaxBlocks * kBlockBytes) {
        why = path + " holds " + std::to_string(data.size()) + (data.size() > kMaxBlocks * kBlockBytes ? "+" : "") +
              " bytes, not 1 to 65535 blocks of 512";
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& data, std::string& why) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f || std::fwrite(data.data(), 1, data.size(), f.get()) != data.size() || std::fflush(f.get())) {
        why = reason("cannot write", path);
        return false;
    }
    return true;
}

} // namespace ddtool
