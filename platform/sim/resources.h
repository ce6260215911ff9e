// The program's resources other than its dialogs: icons, string table and
// menus, as the resource script gave them, and the loads of them.
#pragma once

#include "platform/sim/kernel.h"
#include "platform/sim/windows.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Resources {
public:
    explicit Resources(Kernel& kernel);

    // What the program file holds; tests take pieces away to see a load fail.
    void addIcon(WORD id);
    void removeIcon(WORD id);
    bool hasIcon(WORD id) const;
    void addString(UINT id, const std::string& text);
    void removeString(UINT id);
    std::optional<std::string> string(UINT id) const;
    void addMenu(WORD id, std::vector<MenuTemplateItem> items);
    void removeMenu(WORD id);
    std::optional<std::vector<MenuTemplateItem>> menu(WORD id) const;

    // Which icon resource a handle stands for (a system icon has none).
    std::optional<WORD> iconOf(HICON icon) const;
    // Distinct icons handed out: LoadIconA answers the same shared handle
    // for every load of one icon.
    std::size_t iconsLoaded() const;

    // Win32 entry points
    HICON loadIcon(HINSTANCE instance, LPCSTR name);
    int loadString(HINSTANCE instance, UINT id, LPSTR buffer, int size);
    // The template of the menu LoadMenuA asks for, or the error it fails with.
    std::optional<std::vector<MenuTemplateItem>> findMenu(HINSTANCE instance, LPCSTR name, DWORD* error) const;

private:
    Kernel& kernel_;
    std::map<WORD, bool> icons_;
    std::map<UINT, std::string> strings_;
    std::map<WORD, std::vector<MenuTemplateItem>> menus_;
    std::map<ULONG_PTR, HICON> loaded_; // by resource id; system icons above 0xFFFF
    std::map<HICON, std::optional<WORD>> handles_;
    std::uintptr_t nextIcon_ = 0x20000;
};

} // namespace sim
