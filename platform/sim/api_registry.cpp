// The simulated advapi32 registry functions.
#include "platform/win32.h"

#include "platform/sim/describe.h"
#include "platform/sim/machine.h"

#include <cstring>

using sim::Machine;
using sim::describe;

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegCreateKeyExA", describe(key, sub, reserved, cls, options, sam, sa)))
        return static_cast<LONG>(*e);
    return m.registry().createKeyEx(key, sub, options, sam, result, disposition);
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegOpenKeyExA", describe(key, sub, options, sam)))
        return static_cast<LONG>(*e);
    return m.registry().openKeyEx(key, sub, sam, result);
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegQueryValueExA", describe(key, name, size ? *size : 0u)))
        return static_cast<LONG>(*e);
    return m.registry().queryValueEx(key, name, reserved, type, data, size);
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    Machine& m = Machine::current();
    // A four-byte value is logged as the number it holds, so tests can follow
    // the sequence of values a flag took.
    DWORD number = 0;
    if (data && size == sizeof number)
        std::memcpy(&number, data, sizeof number);
    if (auto e = m.enter("RegSetValueExA", describe(key, name, reserved, type, size, number)))
        return static_cast<LONG>(*e);
    return m.registry().setValueEx(key, name, type, data, size);
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegDeleteValueA", describe(key, name)))
        return static_cast<LONG>(*e);
    return m.registry().deleteValueA(key, name);
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR sub) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegDeleteKeyA", describe(key, sub)))
        return static_cast<LONG>(*e);
    return m.registry().deleteKeyA(key, sub);
}

LONG WINAPI RegCloseKey(HKEY key) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegCloseKey", describe(key)))
        return static_cast<LONG>(*e);
    return m.registry().closeKey(key);
}

LONG WINAPI RegNotifyChangeKeyValue(HKEY key, BOOL subtree, DWORD filter, HANDLE event, BOOL async) {
    Machine& m = Machine::current();
    if (auto e = m.enter("RegNotifyChangeKeyValue", describe(key, subtree, filter, event, async)))
        return static_cast<LONG>(*e);
    return m.registry().notifyChange(key, subtree, filter, event, async);
}
