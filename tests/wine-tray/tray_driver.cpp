// The other process of the tray program's Wine test: it finds the program's
// windows by caption, reads them, posts them messages and asks the
// notification area about the program's icon, one command per run.
//
//   tray_driver wait CAPTION [MS]          the window's handle, once it exists
//   tray_driver shown CAPTION [MS]         the window's handle, once it is visible
//   tray_driver gone CAPTION [MS]          succeeds once no such window exists
//   tray_driver visible CAPTION            "1" or "0"
//   tray_driver texts CAPTION              the texts of the window's children
//   tray_driver children CAPTION           how many child windows it has
//   tray_driver child CAPTION              the first child window's rectangle
//   tray_driver post CAPTION MSG WP LP     posts a message (numbers in C form)
//   tray_driver icon WINDOW ID             succeeds when the icon is in the tray
//   tray_driver menu [MS]                  the open context menu's rectangle
//   tray_driver nomenu [MS]                succeeds once no context menu is open
//   tray_driver rect CAPTION               the window's rectangle
//   tray_driver count CAPTION              how many top-level windows have the title
//   tray_driver message NAME               the number of the registered message NAME, in hex
//
// Every window is looked up among the top-level ones by its title; WINDOW may
// also be a handle (0x...) printed earlier, for a window that may be gone.
// Exit code 0 for success, 1 for a negative answer, 2 for misuse.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND find(const char* caption) { return FindWindowA(nullptr, caption); }

HWND waitFor(const char* caption, DWORD ms, bool visible) {
    for (DWORD waited = 0;; waited += 50) {
        HWND h = find(caption);
        if (h && (!visible || IsWindowVisible(h)))
            return h;
        if (waited >= ms)
            return nullptr;
        Sleep(50);
    }
}

unsigned long number(const char* text) { return std::strtoul(text, nullptr, 0); }

HWND openMenu() {
    // A context menu is a top-level window of the system's menu class.
    HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK takeChild(HWND child, LPARAM first) {
    *reinterpret_cast<HWND*>(first) = child;
    return FALSE;
}

BOOL CALLBACK printText(HWND child, LPARAM) {
    char text[512] = "";
    GetWindowTextA(child, text, sizeof text);
    if (text[0])
        std::printf("%s\n", text);
    return TRUE;
}

void printRect(HWND h) {
    RECT r;
    GetWindowRect(h, &r);
    std::printf("%ld %ld %ld %ld\n", static_cast<long>(r.left), static_cast<long>(r.top),
                static_cast<long>(r.right), static_cast<long>(r.bottom));
}

struct Titled {
    const char* caption;
    int count;
};

BOOL CALLBACK countTitled(HWND h, LPARAM titled) {
    auto& t = *reinterpret_cast<Titled*>(titled);
    char text[512] = "";
    GetWindowTextA(h, text, sizeof text);
    t.count += std::strcmp(text, t.caption) == 0;
    return TRUE;
}

int usage() {
    std::fprintf(stderr, "usage: tray_driver wait|gone|visible|texts|post|icon|menu|rect|count|message ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const char* command = argv[1];
    const char* caption = argc > 2 ? argv[2] : "";
    if ((!std::strcmp(command, "wait") || !std::strcmp(command, "shown")) && argc >= 3) {
        HWND h = waitFor(caption, argc > 3 ? number(argv[3]) : 10000, command[0] == 's');
        if (!h)
            return 1;
        std::printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)));
        return 0;
    }
    if (!std::strcmp(command, "gone") && argc >= 3) {
        DWORD ms = argc > 3 ? number(argv[3]) : 10000;
        for (DWORD waited = 0; find(caption); waited += 50) {
            if (waited >= ms)
                return 1;
            Sleep(50);
        }
        return 0;
    }
    if (!std::strcmp(command, "menu") || !std::strcmp(command, "nomenu")) {
        bool wantOpen = command[0] == 'm';
        DWORD ms = argc > 2 ? number(argv[2]) : 5000;
        for (DWORD waited = 0;; waited += 50) {
            HWND menu = openMenu();
            if (wantOpen && menu) {
                printRect(menu);
                return 0;
            }
            if (!wantOpen && !menu)
                return 0;
            if (waited >= ms)
                return 1;
            Sleep(50);
        }
    }
    if (!std::strcmp(command, "icon") && argc == 4) {
        // Changing nothing about an icon succeeds only when the taskbar has it.
        NOTIFYICONDATAA record;
        std::memset(&record, 0, sizeof record);
        record.cbSize = NOTIFYICONDATAA_V2_SIZE;
        record.hWnd = std::strncmp(caption, "0x", 2) ? find(caption)
                                                     : reinterpret_cast<HWND>(std::strtoull(caption, nullptr, 16));
        record.uID = number(argv[3]);
        return record.hWnd && Shell_NotifyIconA(NIM_MODIFY, &record) ? 0 : 1;
    }
    if (!std::strcmp(command, "message") && argc == 3) {
        UINT message = RegisterWindowMessageA(caption);
        if (!message)
            return 1;
        std::printf("%x\n", message);
        return 0;
    }
    if (!std::strcmp(command, "count") && argc == 3) {
        Titled titled{caption, 0};
        EnumWindows(countTitled, reinterpret_cast<LPARAM>(&titled));
        std::printf("%d\n", titled.count);
        return 0;
    }
    HWND h = argc >= 3 ? find(caption) : nullptr;
    if (!h) {
        std::fprintf(stderr, "tray_driver: no window \"%s\"\n", caption);
        return argc >= 3 ? 1 : usage();
    }
    if (!std::strcmp(command, "visible")) {
        std::printf("%d\n", IsWindowVisible(h) ? 1 : 0);
        return 0;
    }
    if (!std::strcmp(command, "texts")) {
        EnumChildWindows(h, printText, 0);
        return 0;
    }
    if (!std::strcmp(command, "children")) {
        int count = 0;
        EnumChildWindows(h, countChild, reinterpret_cast<LPARAM>(&count));
        std::printf("%d\n", count);
        return 0;
    }
    if (!std::strcmp(command, "child")) {
        HWND first = nullptr;
        EnumChildWindows(h, takeChild, reinterpret_cast<LPARAM>(&first));
        if (!first)
            return 1;
        printRect(first);
        return 0;
    }
    if (!std::strcmp(command, "rect")) {
        printRect(h);
        return 0;
    }
    if (!std::strcmp(command, "post") && argc == 6)
        return PostMessageA(h, number(argv[3]), number(argv[4]), number(argv[5])) ? 0 : 1;
    return usage();
}
