#include "platform/sim/windows.h"

#include "platform/win32.h"

#include <algorithm>

namespace sim {

Windows::Windows(Kernel& kernel) : kernel_(kernel) {}

void Windows::addDialogTemplate(const DialogTemplate& t) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    templates_[t.id] = t;
}

bool Windows::hasDialogTemplate(WORD id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return templates_.count(id) != 0;
}

std::optional<DialogTemplate> Windows::templateFor(LPCSTR name) const {
    if (!name || !IS_INTRESOURCE(name))
        return std::nullopt; // only numbered templates are used
    auto it = templates_.find(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    if (it == templates_.end())
        return std::nullopt;
    return it->second;
}

std::shared_ptr<Windows::Queue> Windows::queueLocked(DWORD thread) {
    auto& q = queues_[thread];
    if (!q)
        q = std::make_shared<Queue>();
    return q;
}

WindowRec* Windows::findLocked(HWND h) {
    auto it = windows_.find(h);
    return it == windows_.end() ? nullptr : &it->second;
}

const WindowRec* Windows::findLocked(HWND h) const {
    auto it = windows_.find(h);
    return it == windows_.end() ? nullptr : &it->second;
}

HWND Windows::createLocked(const DialogTemplate& t, HWND owner, DLGPROC proc, DWORD thread) {
    WindowRec w;
    w.handle = reinterpret_cast<HWND>(nextWindow_);
    nextWindow_ += 2;
    w.thread = thread;
    w.dialogProc = proc;
    w.templateId = t.id;
    w.owner = owner;
    w.caption = t.caption;
    w.style = t.style;
    w.x = t.x, w.y = t.y, w.cx = t.cx, w.cy = t.cy;
    windows_[w.handle] = w;
    return w.handle;
}

void Windows::broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    ++broadcasts_;
    bool any = false;
    for (auto& [h, w] : windows_) {
        if (w.style & WS_CHILD)
            continue;
        queueLocked(w.thread)->posted.push_back(MSG{h, message, wParam, lParam, 0, {0, 0}});
        any = true;
    }
    if (any)
        kernel_.objectsChanged();
}

unsigned Windows::broadcasts() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return broadcasts_;
}

std::size_t Windows::windowCount() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return windows_.size();
}

std::size_t Windows::deviceNotifications() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return notifications_.size();
}

std::optional<WindowRec> Windows::window(HWND h) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    const WindowRec* w = findLocked(h);
    return w ? std::optional<WindowRec>(*w) : std::nullopt;
}

std::vector<WindowRec> Windows::windows() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    std::vector<WindowRec> out;
    for (const auto& [h, w] : windows_)
        out.push_back(w);
    return out;
}

HWND Windows::findByCaption(const std::string& caption) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    for (const auto& [h, w] : windows_)
        if (w.caption == caption)
            return h;
    return nullptr;
}

void Windows::threadEndedLocked(DWORD thread) {
    for (auto it = windows_.begin(); it != windows_.end();)
        it = it->second.thread == thread ? windows_.erase(it) : std::next(it);
    queues_.erase(thread);
}

LRESULT Windows::callProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        const WindowRec* w = findLocked(h);
        if (!w)
            return 0;
        proc = w->dialogProc;
    }
    INT_PTR handled = proc ? proc(h, message, wParam, lParam) : FALSE;
    if (handled)
        return handled;
    // The default dialog handling: a close request becomes the Cancel command,
    // which only the dialog's own procedure can act on.
    if (message == WM_CLOSE)
        return sendMessage(h, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

HWND Windows::createDialog(HINSTANCE, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    HWND h;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        auto t = templateFor(name);
        if (!t) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        SimThread* self = Kernel::self();
        h = createLocked(*t, owner, proc, self ? self->id : 0);
    }
    callProc(h, WM_INITDIALOG, 0, param);
    return h;
}

INT_PTR Windows::dialogBox(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    HWND h;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        auto t = templateFor(name);
        if (!t) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return -1;
        }
        SimThread* self = Kernel::self();
        h = createLocked(*t, owner, proc, self ? self->id : 0);
        findLocked(h)->modal = true;
        if (WindowRec* o = findLocked(owner))
            o->enabled = false;
    }
    callProc(h, WM_INITDIALOG, 0, param);
    INT_PTR result = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(kernel_.lock());
            WindowRec* w = findLocked(h);
            if (!w || w->ended) {
                result = w ? w->result : 0;
                break;
            }
        }
        MSG msg;
        BOOL got = getMessage(&msg, nullptr);
        if (got == 0) {
            postQuit(static_cast<int>(msg.wParam)); // leave the quit for the outer loop
            break;
        }
        if (got == -1) {
            result = -1;
            break;
        }
        dispatch(&msg);
    }
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        if (WindowRec* o = findLocked(owner))
            o->enabled = true;
    }
    destroyWindow(h);
    return result;
}

BOOL Windows::endDialog(HWND h, INT_PTR result) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->ended = true;
    w->result = result;
    // Wake the modal loop so that it notices.
    queueLocked(w->thread)->posted.push_back(MSG{nullptr, WM_NULL, 0, 0, 0, {0, 0}});
    kernel_.objectsChanged();
    return TRUE;
}

BOOL Windows::destroyWindow(HWND h) {
    std::vector<HWND> owned;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        WindowRec* w = findLocked(h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        SimThread* self = Kernel::self();
        if (!self || self->id != w->thread) {
            SetLastError(ERROR_ACCESS_DENIED); // only the owning thread may destroy a window
            return FALSE;
        }
        for (const auto& [oh, ow] : windows_)
            if (ow.owner == h)
                owned.push_back(oh);
    }
    for (HWND o : owned)
        destroyWindow(o);
    callProc(h, WM_DESTROY, 0, 0);
    std::lock_guard<std::mutex> lock(kernel_.lock());
    windows_.erase(h);
    for (auto it = notifications_.begin(); it != notifications_.end();)
        it = it->second == h ? notifications_.erase(it) : std::next(it);
    return TRUE;
}

BOOL Windows::isWindow(HWND h) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return findLocked(h) ? TRUE : FALSE;
}

BOOL Windows::setWindowPos(HWND h, HWND, int x, int y, int cx, int cy, UINT flags) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!(flags & SWP_NOMOVE))
        w->x = x, w->y = y;
    if (!(flags & SWP_NOSIZE))
        w->cx = cx, w->cy = cy;
    if (flags & SWP_SHOWWINDOW)
        w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW)
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    return TRUE;
}

bool Windows::postLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (h == HWND_BROADCAST) {
        for (auto& [wh, w] : windows_)
            if (!(w.style & WS_CHILD))
                queueLocked(w.thread)->posted.push_back(MSG{wh, message, wParam, lParam, 0, {0, 0}});
        kernel_.objectsChanged();
        return true;
    }
    WindowRec* w = findLocked(h);
    if (!w)
        return false;
    queueLocked(w->thread)->posted.push_back(MSG{h, message, wParam, lParam, 0, {0, 0}});
    kernel_.objectsChanged();
    return true;
}

BOOL Windows::postMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!postLocked(h, message, wParam, lParam)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

LRESULT Windows::sendMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::unique_lock<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    SimThread* self = Kernel::self();
    if (self && self->id == w->thread) {
        lock.unlock();
        return callProc(h, message, wParam, lParam);
    }
    // Another thread's window: the message waits for that thread to take it
    // in its message loop, and the sender waits for the answer.
    Sent sent{MSG{h, message, wParam, lParam, 0, {0, 0}}, std::make_shared<EventObject>(true, false),
              std::make_shared<LRESULT>(0)};
    queueLocked(w->thread)->sent.push_back(sent);
    kernel_.objectsChanged();
    if (!self)
        return 0;
    self->waitObjects = {sent.done};
    self->waitAll = false;
    DWORD r = kernel_.block(lock, *self, std::nullopt, "SendMessageA");
    self->waitObjects.clear();
    return r == Kernel::kDeadlock ? 0 : *sent.result;
}

BOOL Windows::getMessage(LPMSG msg, HWND) {
    std::unique_lock<std::mutex> lock(kernel_.lock());
    SimThread* self = Kernel::self();
    if (!self || !msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto queue = queueLocked(self->id);
    for (;;) {
        while (!queue->sent.empty()) {
            Sent sent = queue->sent.front();
            queue->sent.pop_front();
            lock.unlock();
            LRESULT r = callProc(sent.msg.hwnd, sent.msg.message, sent.msg.wParam, sent.msg.lParam);
            lock.lock();
            *sent.result = r;
            sent.done->state = true;
            kernel_.objectsChanged();
        }
        if (!queue->posted.empty()) {
            *msg = queue->posted.front();
            queue->posted.pop_front();
            msg->time = static_cast<DWORD>(kernel_.nowLocked());
            return TRUE;
        }
        if (queue->quit) {
            queue->quit = false;
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, 0, {0, 0}};
            return FALSE;
        }
        self->waitObjects = {queue};
        self->waitAll = false;
        DWORD r = kernel_.block(lock, *self, std::nullopt, "GetMessageA");
        self->waitObjects.clear();
        if (r == Kernel::kDeadlock) {
            SetLastError(ERROR_POSSIBLE_DEADLOCK);
            return -1;
        }
    }
}

LRESULT Windows::dispatch(const MSG* msg) {
    if (!msg || !msg->hwnd)
        return 0;
    return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void Windows::postQuit(int code) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    SimThread* self = Kernel::self();
    if (!self)
        return;
    auto q = queueLocked(self->id);
    q->quit = true;
    q->quitCode = code;
    kernel_.objectsChanged();
}

HDEVNOTIFY Windows::registerNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto* f = static_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
    if (!f || flags != DEVICE_NOTIFY_WINDOW_HANDLE || f->dbcc_size < 12 ||
        !findLocked(static_cast<HWND>(recipient))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto h = reinterpret_cast<HDEVNOTIFY>(nextNotification_);
    nextNotification_ += 4;
    notifications_[h] = static_cast<HWND>(recipient);
    return h;
}

BOOL Windows::unregisterNotification(HDEVNOTIFY h) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!notifications_.erase(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace sim
