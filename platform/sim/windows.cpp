#include "platform/sim/windows.h"

#include "platform/win32.h"

#include <algorithm>
#include <cctype>

namespace sim {

namespace {
// Who sends from the calling thread: its process's level; the machine's own
// calls from outside any simulated thread are the system's.
Integrity callerLevel() {
    SimThread* self = Kernel::self();
    return self ? self->integrity : Integrity::System;
}
} // namespace

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
    // A modal frame is an extended style as much as a dialog style.
    w.exStyle = t.exStyle | ((t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0);
    w.everShown = (t.style & WS_VISIBLE) != 0;
    if (SimThread* self = Kernel::self()) {
        w.process = self->process;
        w.integrity = self->integrity;
    }
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
    // A message sent to the thread and never taken: its sender gets 0, as
    // from a window that is gone.
    if (auto q = queues_.find(thread); q != queues_.end())
        for (Sent& sent : q->second->sent)
            sent.done->state = true;
    for (auto it = windows_.begin(); it != windows_.end();) {
        if (it->second.thread != thread) {
            ++it;
            continue;
        }
        if (it->second.systemMenu)
            destroyMenuLocked(it->second.systemMenu);
        if (foreground_ == it->first)
            foreground_ = nullptr;
        it = windows_.erase(it);
    }
    queues_.erase(thread);
}

namespace {
// The messages whose result a dialog procedure returns itself; for every
// other message a dialog that handles it answers its DWLP_MSGRESULT, which
// nothing here sets, so 0.
bool answersDirectly(UINT message) {
    return message == WM_INITDIALOG || message == WM_QUERYDRAGICON || message == 0x0039 /* WM_COMPAREITEM */ ||
           message == 0x002E /* WM_VKEYTOITEM */ || message == 0x002F /* WM_CHARTOITEM */ ||
           (message >= 0x0132 && message <= 0x0138); // WM_CTLCOLORMSGBOX .. WM_CTLCOLORSTATIC
}
} // namespace

LRESULT Windows::callProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc = nullptr;
    bool box = false;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        const WindowRec* w = findLocked(h);
        if (!w)
            return 0;
        box = w->boxType != 0;
        proc = w->dialogProc;
    }
    if (box)
        return messageBoxProc(h, message, wParam);
    INT_PTR handled = proc ? proc(h, message, wParam, lParam) : FALSE;
    if (handled)
        return answersDirectly(message) ? handled : 0;
    return defaultProc(h, message, wParam, lParam);
}

LRESULT Windows::defaultProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE; // the session may end
    case WM_CLOSE:
        // A close request becomes the Cancel command, which only the dialog's
        // own procedure can act on.
        return sendMessage(h, WM_COMMAND, IDCANCEL, 0);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            return sendMessage(h, WM_CLOSE, 0, 0);
        return 0;
    case WM_SETICON:
    case WM_GETICON: {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        WindowRec* w = findLocked(h);
        if (!w)
            return 0;
        HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
        HICON previous = slot;
        if (message == WM_SETICON)
            slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    default:
        return 0;
    }
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
    bool showPending = false;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        showPending = showOnIdle_;
    }
    for (;;) {
        bool showNow = false;
        {
            std::lock_guard<std::mutex> lock(kernel_.lock());
            WindowRec* w = findLocked(h);
            if (!w || w->ended) {
                result = w ? w->result : 0;
                break;
            }
            auto queue = queueLocked(w->thread);
            if (showPending && queue->posted.empty() && queue->sent.empty()) {
                showPending = false;
                showNow = !(w->style & WS_VISIBLE);
            }
        }
        if (showNow) {
            // The first time the queue is empty, the box is shown whatever its
            // template said; its procedure can still refuse in
            // WM_WINDOWPOSCHANGING.
            showWindow(h, SW_SHOWNORMAL);
            continue;
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
    callProc(h, WM_NCDESTROY, 0, 0); // the window's last message
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (WindowRec* w = findLocked(h); w && w->systemMenu)
        destroyMenuLocked(w->systemMenu);
    if (foreground_ == h)
        foreground_ = nullptr;
    windows_.erase(h);
    for (auto it = notifications_.begin(); it != notifications_.end();)
        it = it->second == h ? notifications_.erase(it) : std::next(it);
    return TRUE;
}

BOOL Windows::isWindow(HWND h) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return findLocked(h) ? TRUE : FALSE;
}

BOOL Windows::setWindowPos(HWND h, HWND after, int x, int y, int cx, int cy, UINT flags) {
    if (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) {
        // A change of visibility goes through the window's procedure first,
        // which may refuse it; a move alone sends nothing here.
        if (!isWindow(h)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        changeWindowPos(h, WINDOWPOS{h, after, x, y, cx, cy, flags});
        return TRUE;
    }
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
    return TRUE;
}

bool Windows::admitsLocked(const WindowRec& w, UINT message, Integrity sender) const {
    if (sender >= w.integrity)
        return true;
    // Windows lets a handful of harmless messages (WM_NULL, WM_GETTEXT...)
    // through as well; nothing here needs them.
    if (auto f = w.filter.find(message); f != w.filter.end())
        return f->second;
    auto p = processFilters_.find(w.process);
    return p != processFilters_.end() && p->second.count(message) != 0;
}

DWORD Windows::postLocked(HWND h, UINT message, WPARAM wParam, LPARAM lParam, Integrity sender) {
    if (h == HWND_BROADCAST) {
        for (auto& [wh, w] : windows_)
            if (!(w.style & WS_CHILD) && admitsLocked(w, message, sender))
                queueLocked(w.thread)->posted.push_back(MSG{wh, message, wParam, lParam, 0, {0, 0}});
        kernel_.objectsChanged();
        return 0;
    }
    WindowRec* w = findLocked(h);
    if (!w)
        return ERROR_INVALID_WINDOW_HANDLE;
    if (!admitsLocked(*w, message, sender))
        return ERROR_ACCESS_DENIED;
    queueLocked(w->thread)->posted.push_back(MSG{h, message, wParam, lParam, 0, {0, 0}});
    kernel_.objectsChanged();
    return 0;
}

BOOL Windows::postMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    return postFrom(callerLevel(), h, message, wParam, lParam);
}

BOOL Windows::postFrom(Integrity sender, HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (DWORD error = postLocked(h, message, wParam, lParam, sender)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

std::set<UINT> Windows::processFilter(DWORD process) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto p = processFilters_.find(process);
    return p == processFilters_.end() ? std::set<UINT>{} : p->second;
}

LRESULT Windows::sendMessage(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    return sendFrom(callerLevel(), h, message, wParam, lParam);
}

LRESULT Windows::sendFrom(Integrity sender, HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    std::unique_lock<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!admitsLocked(*w, message, sender)) {
        SetLastError(ERROR_ACCESS_DENIED);
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
            // WM_QUIT ends a message loop however it came, posted to a
            // window included.
            return msg->message == WM_QUIT ? FALSE : TRUE;
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

bool Windows::endSession(LPARAM reason) {
    std::vector<HWND> tops;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        for (const auto& [h, w] : windows_)
            if (!(w.style & WS_CHILD))
                tops.push_back(h);
    }
    bool ends = true;
    for (HWND h : tops)
        if (isWindow(h) && !sendFrom(Integrity::System, h, WM_QUERYENDSESSION, 0, reason))
            ends = false;
    for (HWND h : tops)
        if (isWindow(h))
            sendFrom(Integrity::System, h, WM_ENDSESSION, ends ? TRUE : FALSE, reason);
    return ends;
}

BOOL Windows::changeWindowFilter(HWND h, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    SimThread* self = Kernel::self();
    if (!self || self->process != w->process) {
        SetLastError(ERROR_ACCESS_DENIED); // only the window's own process changes its filter
        return FALSE;
    }
    if ((status && status->cbSize != sizeof *status) || action > MSGFLT_DISALLOW) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto was = w->filter.find(message);
    DWORD ext = MSGFLTINFO_NONE;
    if (action == MSGFLT_RESET) {
        w->filter.clear();
    } else {
        bool allow = action == MSGFLT_ALLOW;
        if (was != w->filter.end() && was->second == allow)
            ext = allow ? MSGFLTINFO_ALREADYALLOWED_FORWND : MSGFLTINFO_ALREADYDISALLOWED_FORWND;
        w->filter[message] = allow;
    }
    if (status)
        status->ExtStatus = ext;
    return TRUE;
}

BOOL Windows::changeProcessFilter(UINT message, DWORD flag) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    SimThread* self = Kernel::self();
    if (!self || (flag != MSGFLT_ADD && flag != MSGFLT_REMOVE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flag == MSGFLT_ADD)
        processFilters_[self->process].insert(message);
    else
        processFilters_[self->process].erase(message);
    return TRUE;
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

// --- window looks, properties, the foreground, the cursor ---------------------

namespace sim {

std::optional<DialogTemplate> Windows::dialogTemplate(WORD id) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    auto it = templates_.find(id);
    return it == templates_.end() ? std::nullopt : std::optional<DialogTemplate>(it->second);
}

void Windows::setDialogBoxShowsOnIdle(bool on) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    showOnIdle_ = on;
}

HWND Windows::foreground() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return foreground_;
}

void Windows::setCursorPos(int x, int y) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    cursor_ = POINT{x, y};
}

UINT Windows::registeredMessage(const std::string& name) { return registerMessage(name.c_str()); }

void Windows::changeWindowPos(HWND h, WINDOWPOS pos) {
    // Without a simulated thread to wait on, a message to another thread's
    // window could not be waited for: the change then goes straight through.
    if (Kernel::self())
        sendMessage(h, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w)
        return;
    if (!(pos.flags & SWP_NOMOVE))
        w->x = pos.x, w->y = pos.y;
    if (!(pos.flags & SWP_NOSIZE))
        w->cx = pos.cx, w->cy = pos.cy;
    if (pos.flags & SWP_SHOWWINDOW) {
        w->style |= WS_VISIBLE;
        w->everShown = true;
    }
    if (pos.flags & SWP_HIDEWINDOW)
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
}

BOOL Windows::showWindow(HWND h, int command) {
    bool wasVisible = false;
    WINDOWPOS pos{};
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        WindowRec* w = findLocked(h);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasVisible = (w->style & WS_VISIBLE) != 0;
        switch (command) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            w->style |= WS_MINIMIZE;
            break;
        case SW_SHOWNORMAL:
        case SW_SHOWMAXIMIZED:
        case SW_RESTORE:
            w->style &= ~static_cast<DWORD>(WS_MINIMIZE);
            break;
        default:
            break;
        }
        bool visible = command != SW_HIDE;
        if (visible == wasVisible)
            return wasVisible ? TRUE : FALSE;
        pos = WINDOWPOS{h, nullptr, w->x, w->y, w->cx, w->cy,
                        static_cast<UINT>(SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                                          (visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW))};
    }
    changeWindowPos(h, pos);
    return wasVisible ? TRUE : FALSE;
}

LONG Windows::getWindowLong(HWND h, int index) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE)
        return static_cast<LONG>(w->style);
    if (index == GWL_EXSTYLE)
        return static_cast<LONG>(w->exStyle);
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG Windows::setWindowLong(HWND h, int index, LONG value) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    DWORD* slot = index == GWL_STYLE ? &w->style : index == GWL_EXSTYLE ? &w->exStyle : nullptr;
    if (!slot) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    auto previous = static_cast<LONG>(*slot);
    *slot = static_cast<DWORD>(value);
    if (index == GWL_STYLE && (w->style & WS_VISIBLE))
        w->everShown = true;
    return previous;
}

BOOL Windows::setForeground(HWND h) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    if (!findLocked(h))
        return FALSE;
    foreground_ = h;
    return TRUE;
}

namespace {
// Property names are atoms: case does not matter, and an integer atom stands
// for itself.
std::string propKey(LPCSTR name) {
    if (IS_INTRESOURCE(name))
        return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
    std::string key(name);
    for (char& c : key)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}
} // namespace

BOOL Windows::setProp(HWND h, LPCSTR name, HANDLE data) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    w->props[propKey(name)] = data;
    return TRUE;
}

HANDLE Windows::getProp(HWND h, LPCSTR name) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    const WindowRec* w = findLocked(h);
    if (!w || !name)
        return nullptr;
    auto it = w->props.find(propKey(name));
    return it == w->props.end() ? nullptr : it->second;
}

HANDLE Windows::removeProp(HWND h, LPCSTR name) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    WindowRec* w = findLocked(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!name)
        return nullptr;
    auto it = w->props.find(propKey(name));
    if (it == w->props.end())
        return nullptr;
    HANDLE data = it->second;
    w->props.erase(it);
    return data;
}

UINT Windows::registerMessage(LPCSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(kernel_.lock());
    std::string key = propKey(name);
    auto it = registered_.find(key);
    if (it != registered_.end())
        return it->second;
    // Registered messages live in 0xC000..0xFFFF.
    auto message = static_cast<UINT>(0xC000 + registered_.size());
    registered_[key] = message;
    return message;
}

BOOL Windows::getCursorPos(LPPOINT point) const {
    if (!point) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(kernel_.lock());
    *point = cursor_;
    return TRUE;
}

// --- message boxes --------------------------------------------------------------

std::vector<MessageBoxShown> Windows::messageBoxes() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return boxes_;
}

void Windows::setMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    answerer_ = std::move(answerer);
}

INT_PTR Windows::modalLoop(HWND h) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(kernel_.lock());
            WindowRec* w = findLocked(h);
            if (!w || w->ended)
                return w ? w->result : 0;
        }
        MSG msg;
        BOOL got = getMessage(&msg, nullptr);
        if (got == 0) {
            postQuit(static_cast<int>(msg.wParam)); // leave the quit for the outer loop
            return 0;
        }
        if (got == -1)
            return -1;
        dispatch(&msg);
    }
}

int Windows::messageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    MessageBoxShown shown;
    std::size_t index = 0;
    MessageBoxAnswerer answerer;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        if (owner && !findLocked(owner)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        SimThread* self = Kernel::self();
        shown.time = kernel_.nowLocked();
        shown.thread = self ? self->id : 0;
        shown.owner = owner;
        shown.text = text ? text : "";
        shown.caption = caption ? caption : "Error"; // the platform's title for a box without one
        shown.type = type;
        index = boxes_.size();
        boxes_.push_back(shown);
        answerer = answerer_;
    }
    if (answerer) {
        if (std::optional<int> answer = answerer(shown)) {
            std::lock_guard<std::mutex> lock(kernel_.lock());
            boxes_[index].answer = *answer;
            return *answer;
        }
    }
    HWND h;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        DialogTemplate t;
        t.caption = shown.caption;
        t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
        SimThread* self = Kernel::self();
        h = createLocked(t, owner, nullptr, self ? self->id : 0);
        WindowRec* w = findLocked(h);
        w->boxType = kMessageBox | type;
        w->text = shown.text;
        w->modal = true;
        if (WindowRec* o = findLocked(owner))
            o->enabled = false;
        boxes_[index].window = h;
    }
    auto answer = static_cast<int>(modalLoop(h));
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        if (WindowRec* o = findLocked(owner))
            o->enabled = true;
        boxes_[index].answer = answer;
    }
    destroyWindow(h);
    return answer;
}

LRESULT Windows::messageBoxProc(HWND h, UINT message, WPARAM wParam) {
    // The buttons of each MB_ type, in the order the box shows them.
    static const std::vector<int> kButtons[] = {
        {IDOK}, {IDOK, IDCANCEL}, {IDABORT, IDRETRY, IDIGNORE}, {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO}, {IDRETRY, IDCANCEL}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
    };
    UINT type = 0;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        const WindowRec* w = findLocked(h);
        if (!w)
            return 0;
        type = w->boxType & MB_TYPEMASK;
    }
    const std::vector<int>& buttons = type < 7 ? kButtons[type] : kButtons[0];
    auto has = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
    int answer = 0;
    if (message == WM_COMMAND && has(LOWORD(wParam)))
        answer = LOWORD(wParam);
    // Escape or the close box: Cancel when the box has it, OK when OK is its
    // only button; otherwise the box stays.
    if (message == WM_CLOSE)
        answer = has(IDCANCEL) ? IDCANCEL : type == MB_OK ? IDOK : 0;
    if (answer)
        endDialog(h, answer);
    return 0;
}

} // namespace sim
