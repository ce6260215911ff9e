#include "platform/sim/resources.h"

#include "platform/sim/system.h"
#include "platform/win32.h"

#include <cstring>

namespace sim {

namespace {
// The predefined icons LoadIconA gives for a null instance: IDI_APPLICATION
// to IDI_SHIELD.
constexpr ULONG_PTR kFirstSystemIcon = 32512;
constexpr ULONG_PTR kLastSystemIcon = 32518;

bool isProgram(HINSTANCE instance) { return instance == programModule(); }
} // namespace

Resources::Resources(Kernel& kernel) : kernel_(kernel) {}

void Resources::addIcon(WORD id) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    icons_[id] = true;
}

void Resources::removeIcon(WORD id) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    icons_.erase(id);
}

bool Resources::hasIcon(WORD id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return icons_.count(id) != 0;
}

void Resources::addString(UINT id, const std::string& text) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    strings_[id] = text;
}

void Resources::removeString(UINT id) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    strings_.erase(id);
}

std::optional<std::string> Resources::string(UINT id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = strings_.find(id);
    return it == strings_.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void Resources::addMenu(WORD id, std::vector<MenuTemplateItem> items) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    menus_[id] = std::move(items);
}

void Resources::removeMenu(WORD id) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    menus_.erase(id);
}

std::optional<std::vector<MenuTemplateItem>> Resources::menu(WORD id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = menus_.find(id);
    return it == menus_.end() ? std::nullopt : std::optional<std::vector<MenuTemplateItem>>(it->second);
}

std::optional<WORD> Resources::iconOf(HICON icon) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = handles_.find(icon);
    return it == handles_.end() ? std::nullopt : it->second;
}

std::size_t Resources::iconsLoaded() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return handles_.size();
}

HICON Resources::loadIcon(HINSTANCE instance, LPCSTR name) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!name || !IS_INTRESOURCE(name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND); // the program's icons are numbered
        return nullptr;
    }
    auto id = reinterpret_cast<ULONG_PTR>(name);
    ULONG_PTR key = id;
    if (!instance) {
        // A null instance asks for one of the system's predefined icons.
        if (id < kFirstSystemIcon || id > kLastSystemIcon) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        key = 0x10000 + id;
    } else if (!isProgram(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    } else if (!icons_.count(static_cast<WORD>(id))) {
        SetLastError(icons_.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto it = loaded_.find(key);
    if (it != loaded_.end())
        return it->second;
    auto icon = reinterpret_cast<HICON>(nextIcon_);
    nextIcon_ += 4;
    loaded_[key] = icon;
    handles_[icon] = instance ? std::optional<WORD>(static_cast<WORD>(id)) : std::nullopt;
    return icon;
}

int Resources::loadString(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (instance && !isProgram(instance)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    // The ANSI form has no way to hand out the resource itself: without a
    // buffer to copy into there is nothing to answer.
    if (!buffer || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto it = strings_.find(id);
    if (it == strings_.end()) {
        buffer[0] = '\0';
        SetLastError(strings_.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    // Cut to the buffer, always terminated; the count leaves the terminator out.
    std::size_t n = std::min(it->second.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

std::optional<std::vector<MenuTemplateItem>> Resources::findMenu(HINSTANCE instance, LPCSTR name,
                                                                 DWORD* error) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (instance && !isProgram(instance)) {
        *error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return std::nullopt;
    }
    auto it = name && IS_INTRESOURCE(name) ? menus_.find(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)))
                                           : menus_.end();
    if (it == menus_.end()) {
        *error = menus_.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND;
        return std::nullopt;
    }
    return it->second;
}

} // namespace sim
