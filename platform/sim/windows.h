// A small user32: dialogs built from templates, window procedures, one
// message queue per thread, modal loops, post and send, system broadcasts to
// every top-level window, and device-notification registrations; menus (from
// resources, appended to, shown as context menus), the system menu, message
// boxes, window styles and icons, properties, the foreground window, the
// cursor position and registered messages; the end of the session; and the
// isolation of processes by integrity level, with the message filters that
// let a lower level's messages through. No drawing.
#pragma once

#include "platform/sim/kernel.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

// A control line of a dialog template.
struct ControlTemplate {
    std::string statement; // DEFPUSHBUTTON, PUSHBUTTON, LTEXT, ICON, ...
    std::string className; // "Button", "Static"
    std::string text;      // for an ICON, the icon's identifier in decimal
    int id = 0;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    WORD id = 0;
    std::string caption;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD exStyle = 0;
    int pointSize = 0;
    std::string font;
    std::vector<ControlTemplate> controls;
};

// An item of a menu template: a command, a separator, or a pop-up with items
// of its own.
struct MenuTemplateItem {
    std::string text;
    UINT id = 0;
    UINT flags = 0; // MF_SEPARATOR, MF_POPUP, MF_GRAYED, ...
    std::vector<MenuTemplateItem> children;
};

// An item of a live menu.
struct MenuItemRec {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
    HMENU submenu = nullptr;
};

// A context menu as TrackPopupMenu showed it, and what was chosen (0: none).
struct PopupMenuShown {
    VirtualTime time = 0;
    DWORD thread = 0;
    HMENU menu = nullptr;
    HWND owner = nullptr;
    int x = 0, y = 0;
    UINT flags = 0;
    std::vector<MenuItemRec> items;
    // A menu whose owner is not the foreground window stays open when the
    // user clicks elsewhere.
    bool ownerInForeground = false;
    UINT chosen = 0;
};

// A message box as MessageBoxA showed it; `answer` is 0 while it is open.
struct MessageBoxShown {
    VirtualTime time = 0;
    DWORD thread = 0;
    HWND owner = nullptr;
    HWND window = nullptr; // null when the answerer answered at once
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
};

struct WindowRec {
    HWND handle = nullptr;
    DWORD thread = 0;
    DLGPROC dialogProc = nullptr;
    WORD templateId = 0;
    HWND owner = nullptr;
    std::string caption;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool enabled = true;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    DWORD exStyle = 0;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HMENU systemMenu = nullptr; // made by the first GetSystemMenu
    bool everShown = false;
    UINT boxType = 0;           // a message box: its MB_ type, with kMessageBox set
    std::string text;           // a message box's text
    std::map<std::string, HANDLE> props; // by upper-cased name
    // The process of the thread that made the window, and its level.
    DWORD process = 0;
    Integrity integrity = Integrity::Medium;
    // The window's own message filter: true for a message let through from
    // a lower level, false for one kept out even where its process lets it in.
    std::map<UINT, bool> filter;
};

class Windows {
public:
    explicit Windows(Kernel& kernel);

    void addDialogTemplate(const DialogTemplate& t);
    bool hasDialogTemplate(WORD id) const;

    // The system's broadcast to every top-level window, as for a device-tree
    // change; it is posted, so the broadcaster never waits for a window.
    void broadcast(UINT message, WPARAM wParam, LPARAM lParam);
    unsigned broadcasts() const;
    // A message posted by a program at `sender`'s level (Explorer's, at
    // Medium), to one window or, with HWND_BROADCAST, to every top-level
    // one. A window of a higher level takes only what its filter admits:
    // posted to it alone, the post then fails with ERROR_ACCESS_DENIED.
    BOOL postFrom(Integrity sender, HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    // Messages a process lets in from lower levels, all its windows alike.
    std::set<UINT> processFilter(DWORD process) const;

    // The end of the session, as the system tells it: every top-level window
    // is sent WM_QUERYENDSESSION, then WM_ENDSESSION saying whether the
    // session ends (it does when every window agreed). `reason` is the
    // lParam of both (ENDSESSION_LOGOFF for a sign-out). Answers whether it
    // ended.
    bool endSession(LPARAM reason);

    std::size_t windowCount() const;
    std::size_t deviceNotifications() const;
    std::optional<WindowRec> window(HWND h) const;
    std::vector<WindowRec> windows() const;
    HWND findByCaption(const std::string& caption) const;
    std::optional<DialogTemplate> dialogTemplate(WORD id) const;

    // DialogBoxParamA shows its dialog the first time its queue is empty,
    // whatever the template says, as Windows does (on by default; a window
    // that must stay hidden refuses in WM_WINDOWPOSCHANGING).
    void setDialogBoxShowsOnIdle(bool on);

    HWND foreground() const;
    void setCursorPos(int x, int y);
    // The message number RegisterWindowMessageA gives `name`.
    UINT registeredMessage(const std::string& name);

    // Menus alive that a program made (system menus, which belong to their
    // window, are not counted): what is loaded must be destroyed.
    std::size_t menuCount() const;
    std::vector<MenuItemRec> menuItems(HMENU h) const;
    std::vector<PopupMenuShown> popupMenus() const;
    // Answers which command a context menu's user chooses, 0 for none (the
    // menu closed by a click elsewhere). Without a chooser every menu closes
    // with nothing chosen. Called on the thread that shows the menu.
    using MenuChooser = std::function<UINT(const PopupMenuShown&)>;
    void setMenuChooser(MenuChooser chooser);

    std::vector<MessageBoxShown> messageBoxes() const;
    // Answers a message box at once, or leaves it open (nullopt) as a window
    // that a button command (WM_COMMAND with its identifier) or WM_CLOSE ends.
    // Without an answerer every box stays open. Called on the box's thread.
    using MessageBoxAnswerer = std::function<std::optional<int>(const MessageBoxShown&)>;
    void setMessageBoxAnswerer(MessageBoxAnswerer answerer);

    // Called by the kernel, under its lock, when a thread ends: its windows
    // and its queue go with it.
    void threadEndedLocked(DWORD thread);

    // Win32 entry points
    HWND createDialog(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
    INT_PTR dialogBox(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
    BOOL endDialog(HWND h, INT_PTR result);
    BOOL destroyWindow(HWND h);
    BOOL isWindow(HWND h) const;
    BOOL setWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags);
    BOOL postMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT sendMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL getMessage(LPMSG msg, HWND filter);
    LRESULT dispatch(const MSG* msg);
    void postQuit(int code);
    HDEVNOTIFY registerNotification(HANDLE recipient, LPVOID filter, DWORD flags);
    BOOL unregisterNotification(HDEVNOTIFY h);
    BOOL showWindow(HWND h, int command);
    LONG getWindowLong(HWND h, int index);
    LONG setWindowLong(HWND h, int index, LONG value);
    BOOL setForeground(HWND h);
    BOOL setProp(HWND h, LPCSTR name, HANDLE data);
    HANDLE getProp(HWND h, LPCSTR name) const;
    HANDLE removeProp(HWND h, LPCSTR name);
    UINT registerMessage(LPCSTR name);
    BOOL getCursorPos(LPPOINT point) const;
    HMENU getSystemMenu(HWND h, BOOL revert);
    BOOL appendMenu(HMENU h, UINT flags, UINT_PTR id, LPCSTR text);
    HMENU loadMenu(const std::vector<MenuTemplateItem>& items);
    HMENU getSubMenu(HMENU h, int position);
    BOOL trackPopupMenu(HMENU h, UINT flags, int x, int y, HWND owner);
    BOOL destroyMenu(HMENU h);
    int messageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    BOOL changeWindowFilter(HWND h, UINT message, DWORD action, PCHANGEFILTERSTRUCT status);
    BOOL changeProcessFilter(UINT message, DWORD flag);

    static constexpr UINT kMessageBox = 0x80000000u;

private:
    struct MenuRec {
        std::vector<MenuItemRec> items;
        bool popup = false;
        HWND systemOf = nullptr; // the window whose system menu this is
    };

    struct Sent {
        MSG msg;
        std::shared_ptr<EventObject> done;
        std::shared_ptr<LRESULT> result;
    };
    struct Queue : KernelObject {
        const char* kind() const override { return "message queue"; }
        bool signaled() const override { return !posted.empty() || !sent.empty() || quit; }
        std::deque<MSG> posted;
        std::deque<Sent> sent;
        bool quit = false;
        int quitCode = 0;
    };

    std::shared_ptr<Queue> queueLocked(DWORD thread);
    HWND createLocked(const DialogTemplate& t, HWND owner, DLGPROC proc, DWORD thread);
    WindowRec* findLocked(HWND h);
    const WindowRec* findLocked(HWND h) const;
    // 0, or the error that refused the post.
    DWORD postLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam, Integrity sender);
    bool admitsLocked(const WindowRec& w, UINT message, Integrity sender) const;
    LRESULT sendFrom(Integrity sender, HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the window's procedure on the calling thread, without the lock.
    LRESULT callProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<DialogTemplate> templateFor(LPCSTR name) const;
    // A modal loop on the calling thread until `h` ends or goes.
    INT_PTR modalLoop(HWND h);
    // The default handling of a message a dialog procedure left alone.
    LRESULT defaultProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT messageBoxProc(HWND h, UINT message, WPARAM wParam);
    // Sends WM_WINDOWPOSCHANGING and applies what the window leaves of `pos`.
    void changeWindowPos(HWND h, WINDOWPOS pos);
    HMENU newMenuLocked(bool popup);
    HMENU buildMenuLocked(const std::vector<MenuTemplateItem>& items, bool popup);
    MenuRec* findMenuLocked(HMENU h);
    void destroyMenuLocked(HMENU h);
    bool choosableLocked(HMENU h, UINT id, int depth) const;

    Kernel& kernel_;
    std::map<WORD, DialogTemplate> templates_;
    std::map<HWND, WindowRec> windows_;
    std::map<DWORD, std::shared_ptr<Queue>> queues_;
    std::map<HDEVNOTIFY, HWND> notifications_;
    std::uintptr_t nextWindow_ = 0x10010;
    std::uintptr_t nextNotification_ = 0x5000;
    unsigned broadcasts_ = 0;
    bool showOnIdle_ = true;
    HWND foreground_ = nullptr;
    POINT cursor_ = {0, 0};
    std::map<std::string, UINT> registered_;
    std::map<DWORD, std::set<UINT>> processFilters_;
    std::map<HMENU, MenuRec> menus_;
    std::uintptr_t nextMenu_ = 0x30000;
    bool popupActive_ = false;
    std::vector<PopupMenuShown> popups_;
    MenuChooser chooser_;
    std::vector<MessageBoxShown> boxes_;
    MessageBoxAnswerer answerer_;
};

} // namespace sim
