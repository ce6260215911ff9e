#include "platform/sim/files.h"

#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {

namespace {

// "\\.\E:" and "\\?\E:" name the same object; anything else is a file
// system path, and the simulated machine has no file system.
bool objectKey(const char* path, std::string* key) {
    if (std::strncmp(path, "\\\\.\\", 4) != 0 && std::strncmp(path, "\\\\?\\", 4) != 0)
        return false;
    key->assign(path + 4);
    for (char& c : *key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
}

struct FileObject : KernelObject {
    // The device hears of the close: what an open holds (a volume lock) ends with it.
    ~FileObject() override {
        if (device)
            device->close(this);
    }
    const char* kind() const override { return "file"; }
    std::string path;
    std::shared_ptr<DeviceObject> device;
};

} // namespace

void Files::attach(const std::string& path, std::shared_ptr<DeviceObject> device) {
    std::string key;
    if (!objectKey(path.c_str(), &key))
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& e : names_)
        if (e.key == key) {
            e.device = std::move(device);
            return;
        }
    names_.push_back(Entry{key, std::move(device)});
}

void Files::detach(const std::string& path) {
    std::string key;
    if (!objectKey(path.c_str(), &key))
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    names_.erase(std::remove_if(names_.begin(), names_.end(), [&](const Entry& e) { return e.key == key; }),
                 names_.end());
}

bool Files::attached(const std::string& path) const {
    std::string key;
    std::lock_guard<std::mutex> lock(mutex_);
    return objectKey(path.c_str(), &key) && findLocked(key) != nullptr;
}

std::shared_ptr<DeviceObject> Files::findLocked(const std::string& key) const {
    for (const auto& e : names_)
        if (e.key == key)
            return e.device;
    return nullptr;
}

std::vector<IoRecord> Files::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<IoRecord> Files::requests(DWORD code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<IoRecord> out;
    for (const auto& r : requests_)
        if (r.code == code)
            out.push_back(r);
    return out;
}

void Files::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

void Files::setRequestKeeping(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = on;
}

HANDLE Files::create(LPCSTR path, DWORD access, DWORD share, DWORD disposition) {
    if (!path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string key;
    std::shared_ptr<DeviceObject> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (objectKey(path, &key))
            device = findLocked(key);
    }
    if (!device) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        // A device exists already: it can only be opened.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD refused = device->open(access, share)) {
        SetLastError(refused);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>();
    file->path = path;
    file->device = std::move(device);
    std::lock_guard<std::mutex> lock(kernel_.lock());
    SetLastError(ERROR_SUCCESS);
    return kernel_.addHandle(file, "file", HandleSpace::Kernel);
}

BOOL Files::control(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                    LPOVERLAPPED overlapped) {
    std::shared_ptr<FileObject> file;
    VirtualTime now;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        file = std::dynamic_pointer_cast<FileObject>(kernel_.lookupObject(h));
        now = kernel_.nowLocked();
    }
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped || !returned) {
        // Only synchronous requests are modelled, and those must say where
        // the byte count goes.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((!in && inSize) || (!out && outSize)) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    // The system buffer, with the input copied in.
    std::vector<BYTE> system(std::max(inSize, outSize));
    if (inSize)
        std::memcpy(system.data(), in, inSize);
    IoRecord record;
    bool keep;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        keep = keep_;
    }
    if (keep) {
        record.time = now;
        record.path = file->path;
        record.code = code;
        record.inSize = inSize;
        record.outSize = outSize;
        record.in.assign(system.begin(), system.begin() + inSize);
    }
    ControlReply reply = file->device->control(ControlRequest{code, inSize, outSize, system.data(), file.get()});
    DWORD back = 0;
    if (reply.error == ERROR_SUCCESS) {
        back = std::min(reply.returned, outSize);
        if (back)
            std::memcpy(out, system.data(), back);
    }
    *returned = back;
    if (keep) {
        record.reply.assign(system.begin(), system.begin() + back);
        record.succeeded = reply.error == ERROR_SUCCESS;
        record.error = reply.error;
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(record));
    }
    if (reply.error != ERROR_SUCCESS) {
        SetLastError(reply.error);
        return FALSE;
    }
    return TRUE;
}

} // namespace sim
