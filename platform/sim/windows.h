// A small user32: dialogs built from templates, window procedures, one
// message queue per thread, modal loops, post and send, system broadcasts to
// every top-level window, and device-notification registrations. No drawing.
#pragma once

#include "platform/sim/kernel.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct DialogTemplate {
    WORD id = 0;
    std::string caption;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
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

    std::size_t windowCount() const;
    std::size_t deviceNotifications() const;
    std::optional<WindowRec> window(HWND h) const;
    std::vector<WindowRec> windows() const;
    HWND findByCaption(const std::string& caption) const;

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

private:
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
    bool postLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the window's procedure on the calling thread, without the lock.
    LRESULT callProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<DialogTemplate> templateFor(LPCSTR name) const;

    Kernel& kernel_;
    std::map<WORD, DialogTemplate> templates_;
    std::map<HWND, WindowRec> windows_;
    std::map<DWORD, std::shared_ptr<Queue>> queues_;
    std::map<HDEVNOTIFY, HWND> notifications_;
    std::uintptr_t nextWindow_ = 0x10010;
    std::uintptr_t nextNotification_ = 0x5000;
    unsigned broadcasts_ = 0;
};

} // namespace sim
