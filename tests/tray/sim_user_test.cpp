// The simulated machine's user32 and shell pieces that the tray program
// rests on, held to what Windows documents: message boxes and their answers,
// the notification area's records, menus, strings and icons, registered
// messages, window properties, and a modal dialog's first showing.
#include "sim_fixture.h"
#include "shell/resource.h"

#include <cstring>
#include <functional>

namespace {

using SimUserTest = SimTest;

NOTIFYICONDATAA record(HWND window, UINT id, DWORD size = NOTIFYICONDATAA_V2_SIZE) {
    NOTIFYICONDATAA r;
    std::memset(&r, 0, sizeof r);
    r.cbSize = size;
    r.hWnd = window;
    r.uID = id;
    r.uFlags = NIF_MESSAGE | NIF_TIP;
    r.uCallbackMessage = WM_USER + 7;
    return r;
}

HWND makeWindow() { return CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, nullptr, 0); }

struct BoxRun {
    UINT type;
    int answer;
};

DWORD WINAPI showBox(LPVOID arg) {
    auto* run = static_cast<BoxRun*>(arg);
    run->answer = MessageBoxA(nullptr, "text", nullptr, run->type);
    return 0;
}

TEST_F(SimUserTest, MessageBoxEndsOnlyWithItsOwnButtons) {
    const struct {
        UINT type;
        UINT message;
        WPARAM command;
        int answer; // 0: still open
    } cases[] = {
        {MB_OK, WM_COMMAND, IDOK, IDOK},
        {MB_OK, WM_COMMAND, IDCANCEL, 0},
        {MB_OK, WM_CLOSE, 0, IDOK},
        {MB_OKCANCEL, WM_CLOSE, 0, IDCANCEL},
        {MB_YESNO, WM_CLOSE, 0, 0},
        {MB_YESNO, WM_COMMAND, IDNO, IDNO},
        {MB_YESNOCANCEL | MB_ICONQUESTION, WM_COMMAND, IDYES, IDYES},
        {MB_RETRYCANCEL, WM_COMMAND, IDOK, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.message << " " << c.command);
        BoxRun run{c.type, -1};
        HANDLE thread = CreateThread(nullptr, 0, showBox, &run, 0, nullptr);
        machine->advance(10);
        HWND box = machine->windows().findByCaption("Error");
        ASSERT_NE(box, nullptr) << "a box without a caption is titled Error";
        EXPECT_EQ(machine->windows().window(box)->text, "text");
        PostMessageA(box, c.message, c.command, 0);
        machine->advance(10);
        EXPECT_EQ(WaitForSingleObject(thread, 0) == WAIT_OBJECT_0, c.answer != 0);
        if (!c.answer) {
            EXPECT_TRUE(IsWindow(box));
            PostMessageA(box, WM_COMMAND, (c.type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL, 0);
            if ((c.type & MB_TYPEMASK) == MB_YESNO)
                PostMessageA(box, WM_COMMAND, IDNO, 0);
        }
        ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
        if (c.answer) {
            EXPECT_EQ(run.answer, c.answer);
        }
        EXPECT_FALSE(IsWindow(box));
        CloseHandle(thread);
    }
}

TEST_F(SimUserTest, MessageBoxAnswererAndBadOwner) {
    machine->windows().setMessageBoxAnswerer([](const sim::MessageBoxShown& b) -> std::optional<int> {
        return b.type == MB_YESNO ? IDNO : IDOK;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "a", "b", MB_YESNO), IDNO);
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(0x1234), "a", "b", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    auto boxes = machine->windows().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u) << "a box for a window that does not exist is never shown";
    EXPECT_EQ(boxes[0].answer, IDNO);
    EXPECT_EQ(boxes[0].window, nullptr);
}

TEST_F(SimUserTest, NotificationAreaKeepsOneIconPerWindowAndIdentifier) {
    HWND w = makeWindow();
    NOTIFYICONDATAA r = record(w, 5);
    std::strcpy(r.szTip, "tip");
    const struct {
        DWORD message;
        UINT id;
        BOOL result;
        std::size_t icons;
    } steps[] = {
        {NIM_MODIFY, 5, FALSE, 0}, {NIM_DELETE, 5, FALSE, 0}, {NIM_ADD, 5, TRUE, 1}, {NIM_ADD, 5, FALSE, 1},
        {NIM_ADD, 6, TRUE, 2},     {NIM_MODIFY, 5, TRUE, 2},  {NIM_DELETE, 5, TRUE, 1}, {NIM_DELETE, 5, FALSE, 1},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.message << " " << s.id);
        r.uID = s.id;
        EXPECT_EQ(Shell_NotifyIconA(s.message, &r), s.result);
        EXPECT_EQ(machine->notificationArea().icons().size(), s.icons);
    }
    auto icon = machine->notificationArea().icon(w, 6);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->tip, "tip");
    EXPECT_EQ(icon->callbackMessage, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(icon->flags, static_cast<UINT>(NIF_MESSAGE | NIF_TIP));
}

TEST_F(SimUserTest, NotificationAreaReadsOnlyWhatTheRecordSizeCovers) {
    HWND w = makeWindow();
    NOTIFYICONDATAA r = record(w, 1, NOTIFYICONDATAA_V1_SIZE);
    std::memset(r.szTip, 'x', sizeof r.szTip - 1);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &r));
    EXPECT_EQ(machine->notificationArea().icon(w, 1)->tip.size(), 64u) << "the first layout's tip is 64 characters";

    r = record(w, 2, NOTIFYICONDATAA_V1_SIZE - 1);
    SetLastError(0);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &r));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    machine->notificationArea().setRefusing(true);
    r = record(w, 3);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &r));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
}

TEST_F(SimUserTest, MouseOnAnIconPostsItsCallbackOrDropsAGhost) {
    HWND w = makeWindow();
    NOTIFYICONDATAA r = record(w, 9);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &r));
    EXPECT_TRUE(machine->notificationArea().mouse(w, 9, WM_RBUTTONDOWN));
    EXPECT_FALSE(machine->notificationArea().mouse(w, 10, WM_RBUTTONDOWN));
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_EQ(msg.lParam, WM_RBUTTONDOWN);

    DestroyWindow(w);
    EXPECT_EQ(machine->notificationArea().icons().size(), 1u) << "the taskbar does not know the window went";
    EXPECT_FALSE(machine->notificationArea().mouse(w, 9, WM_RBUTTONDOWN));
    EXPECT_TRUE(machine->notificationArea().icons().empty());
}

TEST_F(SimUserTest, TaskbarRestartTellsEveryTopLevelWindow) {
    HWND w = makeWindow();
    NOTIFYICONDATAA r = record(w, 1);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &r));
    machine->notificationArea().recreate();
    EXPECT_TRUE(machine->notificationArea().icons().empty());
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, RegisterWindowMessageA("taskbarcreated")) << "registered names ignore case";
    EXPECT_GE(msg.message, 0xC000u);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimUserTest, LoadedMenuGoesWithItsPopUps) {
    HMENU bar = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(machine->windows().menuCount(), 2u);
    HMENU popup = GetSubMenu(bar, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetSubMenu(bar, 1), nullptr);
    EXPECT_EQ(GetSubMenu(popup, 0), nullptr) << "a command has no pop-up";
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_EQ(machine->windows().menuCount(), 0u);
    SetLastError(0);
    EXPECT_FALSE(DestroyMenu(popup));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));

    SetLastError(0);
    EXPECT_EQ(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(SimUserTest, ContextMenuChoiceIsPostedOrReturned) {
    HWND owner = makeWindow();
    HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    HMENU popup = GetSubMenu(bar, 0);
    const struct {
        UINT flags;
        UINT choice;
        BOOL result;
        UINT posted; // 0: nothing
    } cases[] = {
        {0, ID_TRAY_ABOUT, TRUE, ID_TRAY_ABOUT},
        {0, 0, TRUE, 0},
        {0, 4242, TRUE, 0}, // not in the menu: a click beside it
        {TPM_RETURNCMD, ID_TRAY_EXIT, ID_TRAY_EXIT, 0},
        {TPM_RETURNCMD, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flags << " " << c.choice);
        machine->windows().setMenuChooser([&](const sim::PopupMenuShown&) { return c.choice; });
        EXPECT_EQ(TrackPopupMenu(popup, c.flags, 1, 2, 0, owner, nullptr), c.result);
        PostMessageA(owner, WM_NULL, 0, 0);
        MSG msg;
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        if (c.posted) {
            EXPECT_EQ(msg.message, static_cast<UINT>(WM_COMMAND));
            EXPECT_EQ(msg.wParam, c.posted);
            ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        }
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_NULL));
    }
    EXPECT_FALSE(machine->windows().popupMenus()[0].ownerInForeground);
    SetLastError(0);
    EXPECT_FALSE(TrackPopupMenu(reinterpret_cast<HMENU>(0x77), 0, 1, 2, 0, owner, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
    DestroyMenu(bar);
}

TEST_F(SimUserTest, SystemMenuIsTheWindowsOwn) {
    HWND w = makeWindow();
    HMENU system = GetSystemMenu(w, FALSE);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(GetSystemMenu(w, FALSE), system) << "one copy per window";
    EXPECT_TRUE(AppendMenuA(system, MF_STRING, 16, "Extra"));
    EXPECT_EQ(machine->windows().menuItems(system).back().text, "Extra");
    EXPECT_EQ(machine->windows().menuCount(), 0u) << "the window's, not the program's to destroy";
    EXPECT_EQ(GetSystemMenu(w, TRUE), nullptr);
    HMENU fresh = GetSystemMenu(w, FALSE);
    EXPECT_NE(machine->windows().menuItems(fresh).back().text, "Extra") << "reverted";

    SetWindowLongA(w, GWL_STYLE, GetWindowLongA(w, GWL_STYLE) & ~static_cast<LONG>(WS_SYSMENU));
    EXPECT_TRUE(GetSystemMenu(w, TRUE) == nullptr);
    EXPECT_EQ(GetSystemMenu(w, FALSE), nullptr) << "no system menu without WS_SYSMENU";
}

TEST_F(SimUserTest, StringsAreCutToTheBufferAndIconsAreShared) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    char buffer[8];
    EXPECT_EQ(LoadStringA(self, IDS_ABOUTBOX, buffer, 5), 4);
    EXPECT_STREQ(buffer, "Abou");
    EXPECT_EQ(LoadStringA(self, IDS_ABOUTBOX, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    SetLastError(0);
    EXPECT_EQ(LoadStringA(self, 4321, buffer, sizeof buffer), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

    HICON a = LoadIconA(self, MAKEINTRESOURCEA(IDI_TRAY));
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(LoadIconA(self, MAKEINTRESOURCEA(IDI_TRAY)), a);
    EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_TRAY)), nullptr) << "a null instance means the system's icons";
    EXPECT_EQ(machine->resources().iconsLoaded(), 2u);
    EXPECT_EQ(GetModuleHandleA("CARDWELL.EXE"), self);
    EXPECT_EQ(GetModuleHandleA("Cardwell"), nullptr) << "without an extension the name is a DLL's";
}

TEST_F(SimUserTest, PropertiesAndStylesBelongToTheirWindow) {
    HWND w = makeWindow();
    int data = 0;
    EXPECT_TRUE(SetPropA(w, "Some.Name", &data));
    EXPECT_EQ(GetPropA(w, "SOME.NAME"), &data);
    EXPECT_EQ(RemovePropA(w, "some.name"), &data);
    EXPECT_EQ(GetPropA(w, "Some.Name"), nullptr);

    LONG ex = GetWindowLongA(w, GWL_EXSTYLE);
    EXPECT_EQ(SetWindowLongA(w, GWL_EXSTYLE, ex | WS_EX_TOOLWINDOW), ex);
    EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), ex | WS_EX_TOOLWINDOW);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(w, 12345), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
}

INT_PTR CALLBACK refusesToShow(HWND h, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_WINDOWPOSCHANGING)
        reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    if (message == WM_USER)
        EndDialog(h, 5);
    return FALSE;
}

INT_PTR CALLBACK plain(HWND h, UINT message, WPARAM, LPARAM) {
    if (message == WM_USER)
        EndDialog(h, 6);
    return FALSE;
}

struct ModalRun {
    DLGPROC proc;
    INT_PTR result = 0;
    HWND window = nullptr;
};

DWORD WINAPI runModal(LPVOID arg) {
    auto* run = static_cast<ModalRun*>(arg);
    run->result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, run->proc, 0);
    return 0;
}

TEST_F(SimUserTest, ModalDialogIsShownAtFirstIdleUnlessItRefuses) {
    machine->windows().setDialogBoxShowsOnIdle(true);
    for (DLGPROC proc : {plain, refusesToShow}) {
        ModalRun run{proc};
        HANDLE thread = CreateThread(nullptr, 0, runModal, &run, 0, nullptr);
        machine->advance(10);
        HWND box = machine->windows().findByCaption("About Halvex Cardwell");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(machine->windows().window(box)->everShown, proc == plain);
        PostMessageA(box, WM_USER, 0, 0);
        ASSERT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
        EXPECT_EQ(run.result, proc == plain ? 6 : 5);
        CloseHandle(thread);
    }
}

TEST_F(SimUserTest, ShowWindowAnswersTheFormerVisibility) {
    HWND w = makeWindow();
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_TRUE(ShowWindow(w, SW_HIDE));
    EXPECT_FALSE(ShowWindow(w, SW_HIDE));
    EXPECT_TRUE(machine->windows().window(w)->everShown);
    SetLastError(0);
    EXPECT_FALSE(ShowWindow(reinterpret_cast<HWND>(0x99), SW_SHOW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// A window of a higher integrity level takes a lower sender's message only
// where a filter lets it in: its own filter first (which may also keep out
// what its process lets in), then its process's.
TEST_F(SimUserTest, HigherLevelWindowTakesOnlyWhatItsFiltersAdmit) {
    machine->kernel().beginProcess(sim::Integrity::High); // this thread: an elevated program
    constexpr UINT kMessage = WM_USER + 1;
    auto window = [&](HWND w, DWORD action) { EXPECT_TRUE(ChangeWindowMessageFilterEx(w, kMessage, action, nullptr)); };
    auto process = [&](DWORD flag) { EXPECT_TRUE(ChangeWindowMessageFilter(kMessage, flag)); };
    const struct {
        const char* name;
        std::function<void(HWND)> filter;
        sim::Integrity sender;
        bool taken;
    } cases[] = {
        {"no filter, a lower sender", [](HWND) {}, sim::Integrity::Medium, false},
        {"no filter, the same level", [](HWND) {}, sim::Integrity::High, true},
        {"the window lets it in", [&](HWND w) { window(w, MSGFLT_ALLOW); }, sim::Integrity::Low, true},
        {"the process lets it in", [&](HWND) { process(MSGFLT_ADD); }, sim::Integrity::Medium, true},
        {"the window keeps out what the process lets in",
         [&](HWND w) {
             process(MSGFLT_ADD);
             window(w, MSGFLT_DISALLOW);
         },
         sim::Integrity::Medium, false},
        {"let in, then reset",
         [&](HWND w) {
             window(w, MSGFLT_ALLOW);
             window(w, MSGFLT_RESET);
         },
         sim::Integrity::Medium, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND w = makeWindow();
        c.filter(w);
        SetLastError(0);
        EXPECT_EQ(machine->windows().postFrom(c.sender, w, kMessage, 0, 0) != FALSE, c.taken);
        EXPECT_EQ(GetLastError(), c.taken ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED));
        if (c.taken) {
            MSG msg;
            ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
            EXPECT_EQ(msg.message, kMessage);
        }
        ChangeWindowMessageFilter(kMessage, MSGFLT_REMOVE);
        DestroyWindow(w);
    }
    // Only the window's own process changes the window's filter.
    HWND w = makeWindow();
    HANDLE other = CreateThread(
        nullptr, 0,
        [](LPVOID target) -> DWORD {
            sim::Machine::current().kernel().beginProcess();
            return ChangeWindowMessageFilterEx(static_cast<HWND>(target), kMessage, MSGFLT_ALLOW, nullptr)
                       ? 0
                       : GetLastError();
        },
        w, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(other, 1000), WAIT_OBJECT_0);
    DWORD refused = 0;
    GetExitCodeThread(other, &refused);
    EXPECT_EQ(refused, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(other);
}

TEST_F(SimUserTest, InterlockedExchangeAnswersTheFormerValue) {
    volatile LONG v = 3;
    EXPECT_EQ(InterlockedExchange(&v, 1), 3);
    EXPECT_EQ(InterlockedExchange(&v, 1), 1);
    EXPECT_EQ(v, 1);
}

} // namespace
