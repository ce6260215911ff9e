// One template for every owned platform resource: a handle-like value, the
// function that answers "none" for it, and the function that releases it.
// Each wrapper is a one-line alias, so every way out of a function releases
// what it took.
#pragma once

#include "platform/win32.h"

template <class T, auto Close, T (*Invalid)()>
class Scoped {
public:
    Scoped() = default;
    explicit Scoped(T value) : value_(value) {}
    ~Scoped() { reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    T get() const { return value_; }
    T* put() {
        reset();
        return &value_;
    }
    explicit operator bool() const { return value_ != Invalid(); }
    void reset(T value = Invalid()) {
        if (value_ != Invalid())
            Close(value_);
        value_ = value;
    }

private:
    T value_ = Invalid();
};

// Invalid values; INVALID_HANDLE_VALUE is no constant expression, hence functions.
template <class T>
constexpr T nullValue() {
    return nullptr;
}
inline HANDLE invalidHandleValue() { return INVALID_HANDLE_VALUE; }

inline LONG WINAPI closeRegistryKey(HKEY key) { return RegCloseKey(key); }
inline BOOL WINAPI destroyDeviceList(HDEVINFO list) { return SetupDiDestroyDeviceInfoList(list); }
inline BOOL WINAPI closeKernelHandle(HANDLE h) { return CloseHandle(h); }
// The process heap's handle is fixed for the life of the process.
inline BOOL WINAPI freeHeapBlock(LPVOID block) { return HeapFree(GetProcessHeap(), 0, block); }

using ScopedKey = Scoped<HKEY, closeRegistryKey, nullValue<HKEY>>;
using ScopedDeviceList = Scoped<HDEVINFO, destroyDeviceList, invalidHandleValue>;
using ScopedHandle = Scoped<HANDLE, closeKernelHandle, nullValue<HANDLE>>;
// What CreateFileA answers: INVALID_HANDLE_VALUE, not null, for none.
using ScopedFile = Scoped<HANDLE, closeKernelHandle, invalidHandleValue>;
using ScopedHeapBlock = Scoped<LPVOID, freeHeapBlock, nullValue<LPVOID>>;
