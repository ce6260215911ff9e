// What the two builds do differently with files: POSIX calls on Linux, Win32
// calls on Windows (file_system_posix.cpp, file_system_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ddtool::fs {

enum class Kind { Missing, File, Link, Other }; // Other: a folder, a device, or what cannot be told

// What is at `path`, without following a link (or, on Windows, a junction).
Kind kindOf(const std::string& path);

// The device `path` opens instead of a file (on Windows "NUL" for nul.bin),
// or empty: where there is no such name, it is a file's.
std::string deviceName(const std::string& path);

// A file made beside `path`, to take its name once it is whole. Someone who
// may write the folder can swap names in it meanwhile; so the file is made
// exclusively under a name no other file has, written through the handle of
// that create, and given `path`'s name through that same handle, relative
// to the folder's own handle, never looked up again by a name that could
// lead elsewhere. Whatever was swapped in, `path` ends as this file, or
// place() fails and nothing else was written.
class NewFile {
  public:
    NewFile();
    ~NewFile(); // removes the file while it has not taken `path`'s name
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Opens the folder of `path` (itself no link) and makes the file. False
    // with a one-line reason.
    bool create(const std::string& path, std::string& why);
    bool write(const std::uint8_t* data, std::size_t size, std::string& why);
    // Gives the file `path`'s name. A file there is replaced only with
    // `replace`, even one that appeared since it was looked at, and its
    // permissions are kept (on Windows its access list and attributes); a
    // link or anything but a file is never replaced.
    bool place(bool replace, std::string& why);

    // The file's name until it is placed: `path`, the process's number, ".part".
    const std::string& temporaryName() const { return temp_; }

  private:
    struct Handles; // the folder's and the file's, as each system has them
    std::unique_ptr<Handles> handles_;
    std::string path_, temp_;
    bool placed_ = false;
};

// For tests: place() as where the file cannot be linked by its handle (no
// privilege for it, no /proc): it is renamed by its temporary name in the
// folder, and what then has `path`'s name is checked to be it. No effect on
// Windows, which always names the file through its handle.
void placeByNameOnlyForTests(bool on);

} // namespace ddtool::fs
