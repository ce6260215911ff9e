// The simulated user32's menus: loaded from templates, appended to, a
// window's system menu, and context menus whose choice a test makes.
#include "platform/sim/windows.h"

#include "platform/win32.h"

namespace sim {

HMENU Windows::newMenuLocked(bool popup) {
    auto h = reinterpret_cast<HMENU>(nextMenu_);
    nextMenu_ += 4;
    menus_[h].popup = popup;
    return h;
}

HMENU Windows::buildMenuLocked(const std::vector<MenuTemplateItem>& items, bool popup) {
    HMENU h = newMenuLocked(popup);
    std::vector<MenuItemRec> built;
    for (const MenuTemplateItem& t : items) {
        MenuItemRec item;
        item.flags = t.flags;
        item.text = t.text;
        item.id = t.id;
        if (t.flags & MF_POPUP) {
            // A pop-up item's identifier is its menu.
            item.submenu = buildMenuLocked(t.children, true);
            item.id = reinterpret_cast<UINT_PTR>(item.submenu);
        }
        built.push_back(item);
    }
    menus_[h].items = std::move(built);
    return h;
}

Windows::MenuRec* Windows::findMenuLocked(HMENU h) {
    auto it = menus_.find(h);
    return it == menus_.end() ? nullptr : &it->second;
}

void Windows::destroyMenuLocked(HMENU h) {
    MenuRec* m = findMenuLocked(h);
    if (!m)
        return;
    std::vector<MenuItemRec> items = std::move(m->items);
    if (m->systemOf)
        if (WindowRec* w = findLocked(m->systemOf); w && w->systemMenu == h)
            w->systemMenu = nullptr;
    menus_.erase(h);
    // Destroying a menu destroys its pop-ups with it.
    for (const MenuItemRec& item : items)
        if (item.flags & MF_POPUP)
            destroyMenuLocked(item.submenu);
}

bool Windows::choosableLocked(HMENU h, UINT id, int depth) const {
    auto it = menus_.find(h);
    if (it == menus_.end() || depth > 8)
        return false;
    for (const MenuItemRec& item : it->second.items) {
        if (item.flags & MF_POPUP) {
            if (choosableLocked(item.submenu, id, depth + 1))
                return true;
        } else if (!(item.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)) && item.id == id) {
            return true;
        }
    }
    return false;
}

std::size_t Windows::menuCount() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    std::size_t n = 0;
    for (const auto& [h, m] : menus_)
        n += m.systemOf == nullptr;
    return n;
}

std::vector<MenuItemRec> Windows::menuItems(HMENU h) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = menus_.find(h);
    return it == menus_.end() ? std::vector<MenuItemRec>{} : it->second.items;
}

std::vector<PopupMenuShown> Windows::popupMenus() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return popups_;
}

void Windows::setMenuChooser(MenuChooser chooser) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    chooser_ = std::move(chooser);
}

HMENU Windows::getSystemMenu(HWND h, BOOL revert) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (revert) {
        // Back to the standard menu, which is made again when next asked for.
        if (w->systemMenu)
            destroyMenuLocked(w->systemMenu);
        return nullptr;
    }
    if (!(w->style & WS_SYSMENU))
        return nullptr;
    if (!w->systemMenu) {
        HMENU m = newMenuLocked(true);
        MenuRec& rec = menus_[m];
        rec.systemOf = h;
        // What the frame cannot do is left out, as for a dialog with a modal
        // frame, which offers Move and Close only.
        bool sizable = w->style & WS_THICKFRAME;
        bool minimizes = (w->style & WS_MINIMIZEBOX) && (w->style & WS_CAPTION);
        bool maximizes = (w->style & WS_MAXIMIZEBOX) && (w->style & WS_CAPTION);
        if (sizable || minimizes || maximizes)
            rec.items.push_back({MF_STRING | MF_GRAYED, SC_RESTORE, "&Restore", nullptr});
        rec.items.push_back({MF_STRING, SC_MOVE, "&Move", nullptr});
        if (sizable)
            rec.items.push_back({MF_STRING, SC_SIZE, "&Size", nullptr});
        if (minimizes)
            rec.items.push_back({MF_STRING, SC_MINIMIZE, "Mi&nimize", nullptr});
        if (maximizes)
            rec.items.push_back({MF_STRING, SC_MAXIMIZE, "Ma&ximize", nullptr});
        rec.items.push_back({MF_SEPARATOR, 0, "", nullptr});
        rec.items.push_back({MF_STRING, SC_CLOSE, "&Close\tAlt+F4", nullptr});
        w->systemMenu = m;
    }
    return w->systemMenu;
}

BOOL Windows::appendMenu(HMENU h, UINT flags, UINT_PTR id, LPCSTR text) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    MenuRec* m = findMenuLocked(h);
    if (!m) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    MenuItemRec item;
    item.flags = flags;
    item.id = id;
    if (flags & MF_POPUP) {
        auto sub = reinterpret_cast<HMENU>(id);
        MenuRec* s = findMenuLocked(sub);
        if (!s || sub == h) {
            SetLastError(ERROR_INVALID_MENU_HANDLE);
            return FALSE;
        }
        s->popup = true;
        item.submenu = sub;
    }
    if (!(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) && text)
        item.text = text;
    m->items.push_back(item);
    return TRUE;
}

HMENU Windows::loadMenu(const std::vector<MenuTemplateItem>& items) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return buildMenuLocked(items, false);
}

HMENU Windows::getSubMenu(HMENU h, int position) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    MenuRec* m = findMenuLocked(h);
    if (!m) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    if (position < 0 || static_cast<std::size_t>(position) >= m->items.size())
        return nullptr;
    const MenuItemRec& item = m->items[static_cast<std::size_t>(position)];
    return (item.flags & MF_POPUP) ? item.submenu : nullptr;
}

BOOL Windows::trackPopupMenu(HMENU h, UINT flags, int x, int y, HWND owner) {
    PopupMenuShown shown;
    std::size_t index = 0;
    MenuChooser chooser;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        MenuRec* m = findMenuLocked(h);
        if (!m) {
            SetLastError(ERROR_INVALID_MENU_HANDLE);
            return FALSE;
        }
        if (!findLocked(owner)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (popupActive_) {
            SetLastError(ERROR_POPUP_ALREADY_ACTIVE);
            return FALSE;
        }
        SimThread* self = Kernel::self();
        shown.time = kernel_.nowLocked();
        shown.thread = self ? self->id : 0;
        shown.menu = h;
        shown.owner = owner;
        shown.x = x, shown.y = y;
        shown.flags = flags;
        shown.items = m->items;
        shown.ownerInForeground = foreground_ == owner;
        popupActive_ = true;
        index = popups_.size();
        popups_.push_back(shown);
        chooser = chooser_;
    }
    UINT chosen = chooser ? chooser(shown) : 0;
    std::lock_guard<std::mutex> lock(kernel_.lock());
    popupActive_ = false;
    // Only an enabled command of this menu can be chosen; anything else is a
    // click beside the menu.
    if (chosen && !choosableLocked(h, chosen, 0))
        chosen = 0;
    popups_[index].chosen = chosen;
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen)
        postLocked(owner, WM_COMMAND, chosen, 0, Integrity::System); // the menu's own choice
    return TRUE;
}

BOOL Windows::destroyMenu(HMENU h) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!findMenuLocked(h)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    destroyMenuLocked(h);
    return TRUE;
}

} // namespace sim
