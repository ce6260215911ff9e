// One template for every owned platform resource: a handle-like value, the
// value that means "none", and the function that releases it. Each wrapper is
// a one-line alias, so every way out of a function releases what it took.
#pragma once

#include "platform/win32.h"

template <class T, auto Close, T Invalid>
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
    explicit operator bool() const { return value_ != Invalid; }
    void reset() {
        if (value_ != Invalid)
            Close(value_);
        value_ = Invalid;
    }

private:
    T value_ = Invalid;
};

inline LONG WINAPI closeRegistryKey(HKEY key) { return RegCloseKey(key); }

using ScopedKey = Scoped<HKEY, closeRegistryKey, nullptr>;
