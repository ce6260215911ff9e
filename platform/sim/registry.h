// The simulated registry: the local-machine and current-user hives, volatile
// and persistent keys, values of any type and size, access rights, and
// one-shot change notifications that signal an event.
#pragma once

#include "platform/sim/kernel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegNode {
    std::string name;
    RegNode* parent = nullptr;
    bool isVolatile = false;
    bool deleted = false;
    DWORD denied = 0; // rights this process is refused on the key
    std::vector<std::shared_ptr<RegNode>> children;
    std::vector<RegValue> values;
};

struct KeyHandleObject {
    std::shared_ptr<RegNode> node;
    REGSAM access = 0;
};

class Registry {
public:
    explicit Registry(Kernel& kernel);

    // Without administrative rights a process may read the local-machine
    // hive but not open any of its keys for writing.
    void setAdministrator(bool admin);
    // Refuse `rights` on the key at `path` (and only that key) to this process.
    void denyAccess(const std::string& path, DWORD rights);

    // Test-side access, as the driver or an installer would write the
    // registry: bypasses handles and rights but wakes notifications.
    void createKey(const std::string& path, bool isVolatile = false);
    bool keyExists(const std::string& path) const;
    bool keyIsVolatile(const std::string& path) const;
    void deleteTree(const std::string& path);
    void setValue(const std::string& path, const std::string& name, DWORD type, std::vector<BYTE> data);
    void setDword(const std::string& path, const std::string& name, DWORD value);
    void deleteValue(const std::string& path, const std::string& name);
    std::optional<RegValue> value(const std::string& path, const std::string& name) const;
    std::optional<DWORD> dword(const std::string& path, const std::string& name) const;
    // A restart: volatile keys are gone.
    void restart();
    std::size_t pendingNotifications() const;

    // Told of every value stored, with the key's full path and whether a
    // program stored it (or the test, in the driver's place). Called under
    // the kernel lock: it must not call the platform.
    using ValueWatcher = std::function<void(const std::string& keyPath, const RegValue& value, bool byProgram)>;
    void setValueWatcher(ValueWatcher watcher);

    // Win32 entry points (take the kernel lock themselves).
    LONG createKeyEx(HKEY root, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result, LPDWORD disposition);
    LONG openKeyEx(HKEY root, LPCSTR sub, REGSAM sam, PHKEY result);
    LONG queryValueEx(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
    LONG setValueEx(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size);
    LONG deleteValueA(HKEY key, LPCSTR name);
    LONG deleteKeyA(HKEY key, LPCSTR sub);
    LONG closeKey(HKEY key);
    LONG notifyChange(HKEY key, BOOL subtree, DWORD filter, HANDLE event, BOOL async);

private:
    // One per key handle that ever asked, as the registry keeps it: the
    // events of the pending request (none once it has fired), and the
    // subtree and filter of the handle's first request, which a repeat on
    // the same handle does not change.
    struct Watch {
        std::shared_ptr<RegNode> node;
        HKEY handle;
        bool subtree;
        DWORD filter;
        std::vector<std::shared_ptr<EventObject>> events;
    };
    void fire(Watch& w);
    void storeLocked(RegNode& node, const std::string& name, DWORD type, std::vector<BYTE> data, bool byProgram);

    std::shared_ptr<RegNode> resolveRoot(HKEY key, REGSAM* access) const;
    std::shared_ptr<RegNode> find(const std::shared_ptr<RegNode>& from, const std::string& sub) const;
    std::shared_ptr<RegNode> findPath(const std::string& path) const;
    std::shared_ptr<RegNode> makePath(const std::string& path, bool isVolatile);
    bool allowed(const RegNode& node, REGSAM wanted) const;
    void changed(const RegNode& node, DWORD what);
    static bool isWithin(const RegNode& node, const RegNode& ancestor);
    std::shared_ptr<RegNode> child(const RegNode& node, const std::string& name) const;
    void removeVolatile(RegNode& node);
    void markDeleted(RegNode& node);

    Kernel& kernel_;
    std::shared_ptr<RegNode> machine_;
    std::shared_ptr<RegNode> user_;
    bool admin_ = true;
    std::vector<Watch> watches_;
    ValueWatcher valueWatcher_;

    static std::string pathOf(const RegNode& node);
    void stored(const RegNode& node, const RegValue& value, bool byProgram);
};

} // namespace sim
