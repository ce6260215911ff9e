#include "platform/sim/registry.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace sim {

namespace {

bool sameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

// Rights that only an administrator is granted on the local-machine hive.
constexpr DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
// Flags that select a registry view; they are not rights.
constexpr DWORD kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

bool isPredefined(HKEY key) {
    auto v = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(key));
    return v >= 0x80000000u && v <= 0x80000006u;
}

} // namespace

Registry::Registry(Kernel& kernel) : kernel_(kernel) {
    machine_ = std::make_shared<RegNode>();
    machine_->name = "HKEY_LOCAL_MACHINE";
    user_ = std::make_shared<RegNode>();
    user_->name = "HKEY_CURRENT_USER";
    // The stems every Windows machine has.
    for (const char* stem : {"SOFTWARE", "SYSTEM\\CurrentControlSet\\services", "HARDWARE"})
        makePath(std::string("HKLM\\") + stem, false);
}

void Registry::setAdministrator(bool admin) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    admin_ = admin;
}

void Registry::denyAccess(const std::string& path, DWORD rights) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (auto node = findPath(path))
        node->denied = rights;
}

std::shared_ptr<RegNode> Registry::child(const RegNode& node, const std::string& name) const {
    for (const auto& c : node.children)
        if (sameName(c->name, name))
            return c;
    return nullptr;
}

std::shared_ptr<RegNode> Registry::find(const std::shared_ptr<RegNode>& from, const std::string& sub) const {
    std::shared_ptr<RegNode> node = from;
    for (const auto& part : split(sub)) {
        node = child(*node, part);
        if (!node)
            return nullptr;
    }
    return node;
}

std::shared_ptr<RegNode> Registry::findPath(const std::string& path) const {
    auto parts = split(path);
    if (parts.empty())
        return nullptr;
    std::shared_ptr<RegNode> node;
    if (sameName(parts[0], "HKLM") || sameName(parts[0], "HKEY_LOCAL_MACHINE"))
        node = machine_;
    else if (sameName(parts[0], "HKCU") || sameName(parts[0], "HKEY_CURRENT_USER"))
        node = user_;
    else
        return nullptr;
    for (std::size_t i = 1; i < parts.size() && node; ++i)
        node = child(*node, parts[i]);
    return node;
}

std::shared_ptr<RegNode> Registry::makePath(const std::string& path, bool isVolatile) {
    auto parts = split(path);
    std::shared_ptr<RegNode> node = (sameName(parts.at(0), "HKCU") || sameName(parts[0], "HKEY_CURRENT_USER"))
                                        ? user_
                                        : machine_;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        auto next = child(*node, parts[i]);
        if (!next) {
            next = std::make_shared<RegNode>();
            next->name = parts[i];
            next->parent = node.get();
            next->isVolatile = isVolatile;
            node->children.push_back(next);
            changed(*node, REG_NOTIFY_CHANGE_NAME);
        }
        node = next;
    }
    return node;
}

bool Registry::isWithin(const RegNode& node, const RegNode& ancestor) {
    for (const RegNode* n = &node; n; n = n->parent)
        if (n == &ancestor)
            return true;
    return false;
}

void Registry::fire(Watch& w) {
    for (auto& e : w.events)
        e->state = true;
    w.events.clear();
}

void Registry::changed(const RegNode& node, DWORD what) {
    bool any = false;
    for (auto& w : watches_) {
        bool hit = !w.events.empty() && (w.filter & what) &&
                   (w.node.get() == &node || (w.subtree && isWithin(node, *w.node)));
        if (hit) {
            // A request fires once; the watcher asks again for the next change.
            fire(w);
            any = true;
        }
    }
    if (any)
        kernel_.objectsChanged();
}

void Registry::storeLocked(RegNode& node, const std::string& name, DWORD type, std::vector<BYTE> data,
                           bool byProgram) {
    auto it = std::find_if(node.values.begin(), node.values.end(),
                           [&](const RegValue& v) { return sameName(v.name, name); });
    if (it != node.values.end() && it->type == type && it->data == data)
        return; // a write that changes nothing is not reported
    if (it == node.values.end())
        it = node.values.insert(node.values.end(), RegValue{name, type, std::move(data)});
    else
        *it = RegValue{it->name, type, std::move(data)};
    stored(node, *it, byProgram);
    changed(node, REG_NOTIFY_CHANGE_LAST_SET);
}

bool Registry::allowed(const RegNode& node, REGSAM wanted) const {
    wanted &= ~kViewFlags;
    if (wanted & MAXIMUM_ALLOWED)
        wanted = KEY_READ;
    if (wanted & node.denied)
        return false;
    if (!admin_ && (wanted & kWriteRights) && isWithin(node, *machine_))
        return false;
    return true;
}

std::shared_ptr<RegNode> Registry::resolveRoot(HKEY key, REGSAM* access) const {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
        if (access)
            *access = KEY_ALL_ACCESS;
        return key == HKEY_LOCAL_MACHINE ? machine_ : user_;
    }
    auto h = std::static_pointer_cast<KeyHandleObject>(kernel_.lookup(key, HandleSpace::Key));
    if (!h)
        return nullptr;
    if (access)
        *access = h->access;
    return h->node;
}

std::string Registry::pathOf(const RegNode& node) {
    if (!node.parent)
        return node.name == "HKEY_LOCAL_MACHINE" ? "HKLM" : "HKCU";
    return pathOf(*node.parent) + "\\" + node.name;
}

void Registry::setValueWatcher(ValueWatcher watcher) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    valueWatcher_ = std::move(watcher);
}

void Registry::stored(const RegNode& node, const RegValue& value, bool byProgram) {
    if (valueWatcher_)
        valueWatcher_(pathOf(node), value, byProgram);
}

// --- test side ---------------------------------------------------------------

void Registry::createKey(const std::string& path, bool isVolatile) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    makePath(path, isVolatile);
}

bool Registry::keyExists(const std::string& path) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return findPath(path) != nullptr;
}

bool Registry::keyIsVolatile(const std::string& path) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto node = findPath(path);
    return node && node->isVolatile;
}

void Registry::markDeleted(RegNode& node) {
    node.deleted = true;
    for (auto& c : node.children)
        markDeleted(*c);
}

void Registry::deleteTree(const std::string& path) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto node = findPath(path);
    if (!node || !node->parent)
        return;
    RegNode& parent = *node->parent;
    markDeleted(*node);
    parent.children.erase(std::remove(parent.children.begin(), parent.children.end(), node), parent.children.end());
    changed(parent, REG_NOTIFY_CHANGE_NAME);
}

void Registry::setValue(const std::string& path, const std::string& name, DWORD type, std::vector<BYTE> data) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto node = findPath(path);
    if (!node)
        node = makePath(path, false);
    storeLocked(*node, name, type, std::move(data), false);
}

void Registry::setDword(const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    setValue(path, name, REG_DWORD, std::move(bytes));
}

void Registry::deleteValue(const std::string& path, const std::string& name) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto node = findPath(path);
    if (!node)
        return;
    auto& vals = node->values;
    auto before = vals.size();
    vals.erase(std::remove_if(vals.begin(), vals.end(), [&](const RegValue& v) { return sameName(v.name, name); }),
               vals.end());
    if (vals.size() != before)
        changed(*node, REG_NOTIFY_CHANGE_LAST_SET);
}

std::optional<RegValue> Registry::value(const std::string& path, const std::string& name) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto node = findPath(path);
    if (!node)
        return std::nullopt;
    for (const auto& v : node->values)
        if (sameName(v.name, name))
            return v;
    return std::nullopt;
}

std::optional<DWORD> Registry::dword(const std::string& path, const std::string& name) const {
    auto v = value(path, name);
    if (!v || v->data.size() != 4)
        return std::nullopt;
    DWORD out;
    std::memcpy(&out, v->data.data(), 4);
    return out;
}

void Registry::removeVolatile(RegNode& node) {
    auto& kids = node.children;
    for (auto& c : kids)
        if (c->isVolatile)
            markDeleted(*c);
    kids.erase(std::remove_if(kids.begin(), kids.end(), [](const auto& c) { return c->isVolatile; }), kids.end());
    for (auto& c : kids)
        removeVolatile(*c);
}

void Registry::restart() {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    removeVolatile(*machine_);
    removeVolatile(*user_);
    watches_.clear();
}

std::size_t Registry::pendingNotifications() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return static_cast<std::size_t>(
        std::count_if(watches_.begin(), watches_.end(), [](const Watch& w) { return !w.events.empty(); }));
}

// --- Win32 entry points --------------------------------------------------------

LONG Registry::createKeyEx(HKEY root, LPCSTR sub, DWORD options, REGSAM sam, PHKEY result, LPDWORD disposition) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!result)
        return ERROR_BADKEY;
    *result = nullptr; // a failed call leaves no stale handle behind
    REGSAM rootAccess = 0;
    auto node = resolveRoot(root, &rootAccess);
    if (!node)
        return ERROR_INVALID_HANDLE;
    if (node->deleted)
        return ERROR_KEY_DELETED;
    if (sub && sub[0] == '\\')
        return ERROR_BAD_PATHNAME;
    bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    bool created = false;
    for (const auto& part : split(sub ? sub : "")) {
        auto next = child(*node, part);
        if (!next) {
            if (!allowed(*node, KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
            if (node->isVolatile && !isVolatile)
                return ERROR_CHILD_MUST_BE_VOLATILE;
            next = std::make_shared<RegNode>();
            next->name = part;
            next->parent = node.get();
            next->isVolatile = isVolatile;
            node->children.push_back(next);
            changed(*node, REG_NOTIFY_CHANGE_NAME);
            created = true;
        }
        node = next;
    }
    if (!allowed(*node, sam))
        return ERROR_ACCESS_DENIED;
    auto h = std::make_shared<KeyHandleObject>();
    h->node = node;
    h->access = (sam & MAXIMUM_ALLOWED) ? (admin_ ? KEY_ALL_ACCESS : KEY_READ) : (sam & ~kViewFlags);
    *result = static_cast<HKEY>(kernel_.addHandle(h, "key", HandleSpace::Key));
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG Registry::openKeyEx(HKEY root, LPCSTR sub, REGSAM sam, PHKEY result) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr; // a failed call leaves no stale handle behind
    auto base = resolveRoot(root, nullptr);
    if (!base)
        return ERROR_INVALID_HANDLE;
    if (base->deleted)
        return ERROR_KEY_DELETED;
    auto node = find(base, sub ? sub : "");
    if (!node)
        return ERROR_FILE_NOT_FOUND;
    if (!allowed(*node, sam))
        return ERROR_ACCESS_DENIED;
    auto h = std::make_shared<KeyHandleObject>();
    h->node = node;
    h->access = (sam & MAXIMUM_ALLOWED) ? (admin_ ? KEY_ALL_ACCESS : KEY_READ) : (sam & ~kViewFlags);
    *result = static_cast<HKEY>(kernel_.addHandle(h, "key", HandleSpace::Key));
    return ERROR_SUCCESS;
}

LONG Registry::queryValueEx(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    REGSAM access = 0;
    auto node = resolveRoot(key, &access);
    if (!node)
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size))
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (node->deleted)
        return ERROR_KEY_DELETED;
    std::string wanted = name ? name : "";
    auto it = std::find_if(node->values.begin(), node->values.end(),
                           [&](const RegValue& v) { return sameName(v.name, wanted); });
    if (it == node->values.end())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = it->type;
    auto needed = static_cast<DWORD>(it->data.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, it->data.data(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

LONG Registry::setValueEx(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    REGSAM access = 0;
    auto node = resolveRoot(key, &access);
    if (!node)
        return ERROR_INVALID_HANDLE;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (node->deleted)
        return ERROR_KEY_DELETED;
    if (!data && size)
        return ERROR_INVALID_PARAMETER;
    storeLocked(*node, name ? name : "", type, std::vector<BYTE>(data, data + size), true);
    return ERROR_SUCCESS;
}

LONG Registry::deleteValueA(HKEY key, LPCSTR name) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    REGSAM access = 0;
    auto node = resolveRoot(key, &access);
    if (!node)
        return ERROR_INVALID_HANDLE;
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string n = name ? name : "";
    auto& vals = node->values;
    auto it = std::find_if(vals.begin(), vals.end(), [&](const RegValue& v) { return sameName(v.name, n); });
    if (it == vals.end())
        return ERROR_FILE_NOT_FOUND;
    vals.erase(it);
    changed(*node, REG_NOTIFY_CHANGE_LAST_SET);
    return ERROR_SUCCESS;
}

LONG Registry::deleteKeyA(HKEY key, LPCSTR sub) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto base = resolveRoot(key, nullptr);
    if (!base)
        return ERROR_INVALID_HANDLE;
    if (base->deleted)
        return ERROR_KEY_DELETED;
    auto node = find(base, sub ? sub : "");
    if (!node)
        return ERROR_FILE_NOT_FOUND;
    if (node->deleted)
        return ERROR_KEY_DELETED;
    if (!node->parent || !node->children.empty() || !allowed(*node, DELETE))
        return ERROR_ACCESS_DENIED;
    // Watchers of the parent hear of it; a request on the deleted key itself
    // stays pending until its handle is closed.
    RegNode& parent = *node->parent;
    node->deleted = true;
    parent.children.erase(std::remove(parent.children.begin(), parent.children.end(), node), parent.children.end());
    changed(parent, REG_NOTIFY_CHANGE_NAME);
    return ERROR_SUCCESS;
}

LONG Registry::closeKey(HKEY key) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (isPredefined(key))
        return ERROR_SUCCESS;
    if (!kernel_.closeHandle(key, HandleSpace::Key))
        return ERROR_INVALID_HANDLE;
    // Closing the handle completes its pending notifications: the waiter is
    // woken and finds nothing changed.
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (it->handle == key) {
            fire(*it);
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
    kernel_.objectsChanged();
    return ERROR_SUCCESS;
}

LONG Registry::notifyChange(HKEY key, BOOL subtree, DWORD filter, HANDLE event, BOOL async) {
    std::unique_lock<std::mutex> lock(kernel_.lock());
    REGSAM access = 0;
    auto node = resolveRoot(key, &access);
    if (!node)
        return ERROR_INVALID_HANDLE;
    if (filter == 0 || (filter & ~REG_LEGAL_CHANGE_FILTER))
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_NOTIFY))
        return ERROR_ACCESS_DENIED;
    if (node->deleted)
        return ERROR_KEY_DELETED;
    std::shared_ptr<EventObject> ev;
    if (async) {
        ev = std::dynamic_pointer_cast<EventObject>(kernel_.lookupObject(event));
        if (!ev)
            return event ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
    } else {
        ev = std::make_shared<EventObject>(true, false);
    }
    // Like any request that completes through an event, this one starts by
    // resetting it.
    ev->state = false;
    auto it = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& w) { return w.handle == key; });
    if (it == watches_.end())
        watches_.push_back(Watch{node, key, subtree != FALSE, filter, {ev}});
    else if (std::find(it->events.begin(), it->events.end(), ev) == it->events.end())
        it->events.push_back(ev);
    if (async)
        return ERROR_SUCCESS;
    // A synchronous request blocks the caller until the change.
    SimThread* t = Kernel::self();
    t->waitObjects = {ev};
    t->waitAll = false;
    DWORD r = kernel_.block(lock, *t, std::nullopt, "RegNotifyChangeKeyValue");
    t->waitObjects.clear();
    return r == Kernel::kDeadlock ? ERROR_POSSIBLE_DEADLOCK : ERROR_SUCCESS;
}

} // namespace sim
