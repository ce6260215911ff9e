// Files and devices: the object namespace that CreateFileA opens ("\\.\E:",
// "\\?\pci#...#{...}"), the device objects behind those names, and
// DeviceIoControl carried to them as the I/O manager carries a buffered
// request: the driver sees a system buffer holding a copy of the input, and on
// success the bytes it reports are copied back to the caller's output buffer;
// on failure nothing is copied back.
#pragma once

#include "platform/sim/kernel.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// One control request as a device object sees it.
struct ControlRequest {
    DWORD code = 0;
    DWORD inSize = 0;           // bytes of input at the start of `buffer`
    DWORD outSize = 0;          // bytes the caller can take back
    BYTE* buffer = nullptr;     // the system buffer: max(inSize, outSize) bytes
    const void* file = nullptr; // which open of the device sent it
};

struct ControlReply {
    DWORD error = ERROR_SUCCESS; // anything else fails the request
    DWORD returned = 0;          // bytes of the system buffer that go back
};

class DeviceObject {
  public:
    virtual ~DeviceObject() = default;
    // Whether CreateFileA may open it now: ERROR_SUCCESS or the error to fail with.
    virtual DWORD open(DWORD access, DWORD share) { return ERROR_SUCCESS; }
    virtual ControlReply control(const ControlRequest& request) = 0;
    // The last handle of one open (`file`, as in its requests) was closed.
    virtual void close(const void* file) {}
};

// One request as the caller sent it and as it came back.
struct IoRecord {
    VirtualTime time = 0;
    std::string path;
    DWORD code = 0;
    DWORD inSize = 0;
    DWORD outSize = 0;
    std::vector<BYTE> in;    // the input buffer as sent
    std::vector<BYTE> reply; // what was copied back to the output buffer
    bool succeeded = false;
    DWORD error = ERROR_SUCCESS;
};

class Files {
  public:
    explicit Files(Kernel& kernel) : kernel_(kernel) {}

    // Names a device object; `path` as a program opens it ("\\.\E:" or
    // "\\?\..."), matched without regard to case. A second attach of the same
    // name replaces the first.
    void attach(const std::string& path, std::shared_ptr<DeviceObject> device);
    // The name goes; handles already open keep their device object.
    void detach(const std::string& path);
    bool attached(const std::string& path) const;

    // Every request sent so far (off: only counted).
    std::vector<IoRecord> requests() const;
    std::vector<IoRecord> requests(DWORD code) const;
    void clearRequests();
    void setRequestKeeping(bool on);

    // Win32 entry points
    HANDLE create(LPCSTR path, DWORD access, DWORD share, DWORD disposition);
    BOOL control(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                 LPOVERLAPPED overlapped);

  private:
    struct Entry {
        std::string key; // the name without its "\\.\" or "\\?\" prefix, folded
        std::shared_ptr<DeviceObject> device;
    };
    std::shared_ptr<DeviceObject> findLocked(const std::string& key) const;

    Kernel& kernel_;
    mutable std::mutex mutex_;
    std::vector<Entry> names_;
    bool keep_ = true;
    std::vector<IoRecord> requests_;
};

} // namespace sim
