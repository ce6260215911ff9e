// The tray program, whole, on the simulated machine: one copy at a time, the
// hidden main window and its icon, the tray menu, the About box, Exit, and
// a program that goes on when pieces of the platform fail it.
#include "tray_fixture.h"

#include "platform/sim/describe.h"

#include <cstring>
#include <functional>
#include <set>
#include <utility>

namespace {

using namespace tray_test;

// The first call of `function` from `from` on whose arguments begin with
// `prefix`; the log's size when there is none.
std::size_t indexOf(const std::vector<sim::CallRecord>& log, const std::string& function,
                    const std::string& prefix = "", std::size_t from = 0) {
    for (std::size_t i = from; i < log.size(); ++i)
        if (log[i].function == function && log[i].arguments.rfind(prefix, 0) == 0)
            return i;
    return log.size();
}

std::string arg(const void* handle) { return sim::describe(handle); }

TEST_F(TrayTest, StartsHiddenWithItsIconAndTheService) {
    HANDLE copy = startCopy();
    ASSERT_TRUE(running(copy));
    HWND main = mainWindow();
    ASSERT_NE(main, nullptr);
    auto w = machine->windows().window(main);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->templateId, IDD_CARDWELL_DIALOG);
    EXPECT_FALSE(w->everShown) << "not even the modal loop's first idle shows it";
    EXPECT_EQ(w->x, -10);
    EXPECT_EQ(w->y, -10);
    EXPECT_EQ(w->cx, 67) << "size unchanged";
    EXPECT_EQ(w->cy, 107);
    EXPECT_TRUE(w->exStyle & WS_EX_TOOLWINDOW) << "no taskbar button";
    EXPECT_FALSE(w->exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(w->exStyle & WS_EX_DLGMODALFRAME) << "the rest of the extended style stays";
    EXPECT_EQ(machine->resources().iconOf(w->bigIcon), std::optional<WORD>(IDR_MAINFRAME));
    EXPECT_EQ(w->smallIcon, w->bigIcon);

    auto icon = trayIcon();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->recordSize, NOTIFYICONDATAA_V2_SIZE);
    EXPECT_EQ(icon->flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(icon->callbackMessage, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(icon->tip, "Cardwell");
    EXPECT_EQ(machine->resources().iconOf(icon->icon), std::optional<WORD>(IDI_TRAY));
    EXPECT_EQ(machine->notificationArea().icons().size(), 1u);

    EXPECT_TRUE(SvcIsRunning());
    EXPECT_TRUE(machine->windows().messageBoxes().empty());
}

TEST_F(TrayTest, PositionChangeWithoutItsRecordIsIgnored) {
    HANDLE copy = startCopy();
    EXPECT_EQ(SendMessageA(mainWindow(), WM_WINDOWPOSCHANGING, 0, 0), 0);
    machine->advance(10);
    EXPECT_TRUE(running(copy));
    EXPECT_FALSE(machine->windows().window(mainWindow())->everShown);
}

TEST_F(TrayTest, SystemMenuOffersAbout) {
    startCopy();
    HMENU system = machine->windows().window(mainWindow())->systemMenu;
    ASSERT_NE(system, nullptr);
    auto items = machine->windows().menuItems(system);
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(items[items.size() - 2].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(items.back().id, static_cast<UINT_PTR>(IDM_ABOUTBOX));
    EXPECT_EQ(items.back().text, "About Cardwell(&A)...");
    EXPECT_EQ(items.front().id, static_cast<UINT_PTR>(SC_MOVE)) << "the system's own items come first";
}

TEST_F(TrayTest, ServiceStartsOnlyOnceTheWindowIsReady) {
    startCopy();
    auto log = machine->records().calls();
    std::size_t added = indexOf(log, "Shell_NotifyIconA", "0x0,");
    std::size_t hidden = indexOf(log, "ShowWindow", arg(mainWindow()) + ",0");
    std::size_t service = indexOf(log, "CreateThread", "", hidden);
    EXPECT_LT(added, hidden);
    EXPECT_LT(hidden, service) << "the service starts once the window is in place and hidden";
    EXPECT_LT(service, log.size());
}

TEST_F(TrayTest, SecondCopyIsRefusedAndLeavesTheFirstAlone) {
    HANDLE first = startCopy();
    auto icons = machine->notificationArea().icons();
    unsigned dialogs = calls("DialogBoxParamA");
    unsigned trayCalls = calls("Shell_NotifyIconA");

    HANDLE second = startCopy(100);
    auto boxes = machine->windows().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kRefusal);
    EXPECT_EQ(boxes[0].caption, "Information");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_TRUE(running(second)) << "the copy waits for its box to be dismissed";
    EXPECT_EQ(machine->windows().window(boxes[0].window)->text, kRefusal);

    post(boxes[0].window, WM_COMMAND, IDOK);
    EXPECT_TRUE(endsWithin(second, 100));
    EXPECT_EQ(exitCode(second), 0u);
    EXPECT_EQ(machine->windows().messageBoxes()[0].answer, IDOK);

    // The first copy is untouched: one main window, its icon, its service.
    EXPECT_TRUE(running(first));
    EXPECT_EQ(windowsCaptioned(kMainCaption), 1u);
    EXPECT_EQ(calls("DialogBoxParamA"), dialogs);
    EXPECT_EQ(calls("Shell_NotifyIconA"), trayCalls);
    ASSERT_EQ(machine->notificationArea().icons().size(), 1u);
    EXPECT_EQ(machine->notificationArea().icons()[0].window, icons[0].window);
    EXPECT_TRUE(SvcIsRunning());
}

TEST_F(TrayTest, RightButtonPressOpensTheMenuAtTheCursor) {
    startCopy();
    machine->windows().setCursorPos(1010, 741);
    unsigned loads = calls("LoadMenuA");
    EXPECT_TRUE(mouse(WM_RBUTTONDOWN));

    auto shown = machine->windows().popupMenus();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].owner, mainWindow());
    EXPECT_EQ(shown[0].x, 1010);
    EXPECT_EQ(shown[0].y, 741);
    EXPECT_EQ(shown[0].flags, 0u) << "so the choice arrives as WM_COMMAND";
    EXPECT_TRUE(shown[0].ownerInForeground) << "or the menu would not close on a click elsewhere";
    ASSERT_EQ(shown[0].items.size(), 3u);
    EXPECT_EQ(shown[0].items[0].text, "Exit");
    EXPECT_EQ(shown[0].items[0].id, static_cast<UINT_PTR>(ID_TRAY_EXIT));
    EXPECT_EQ(shown[0].items[1].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(shown[0].items[2].text, "About");
    EXPECT_EQ(shown[0].items[2].id, static_cast<UINT_PTR>(ID_TRAY_ABOUT));
    EXPECT_EQ(calls("LoadMenuA"), loads + 1);
    EXPECT_EQ(machine->windows().menuCount(), 0u) << "the loaded menu is destroyed";

    // Closed with nothing chosen: the program runs on as before.
    EXPECT_TRUE(trayIcon());
    EXPECT_TRUE(SvcIsRunning());
    EXPECT_EQ(aboutBox(), nullptr);
    auto log = machine->records().calls();
    std::size_t tracked = indexOf(log, "TrackPopupMenu");
    EXPECT_LT(indexOf(log, "SetForegroundWindow", arg(mainWindow())), tracked);
    EXPECT_LT(indexOf(log, "PostMessageA", arg(mainWindow()) + ",0x0,0x0,0", tracked), log.size())
        << "WM_NULL after the menu";
}

TEST_F(TrayTest, OtherMouseEventsOnTheIconDoNothing) {
    startCopy();
    const UINT events[] = {WM_RBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, 0x0200};
    for (UINT e : events) {
        SCOPED_TRACE(e);
        EXPECT_TRUE(mouse(e));
        EXPECT_TRUE(machine->windows().popupMenus().empty());
        EXPECT_EQ(calls("LoadMenuA"), 0u);
        EXPECT_EQ(aboutBox(), nullptr);
        EXPECT_TRUE(trayIcon());
    }
}

TEST_F(TrayTest, EveryTrayCallbackAnswersZero) {
    startCopy();
    for (LPARAM e : {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONDBLCLK, 0x0200}) {
        SCOPED_TRACE(e);
        EXPECT_EQ(SendMessageA(mainWindow(), kTrayCallback, kTrayIconId, e), 0);
    }
    EXPECT_EQ(machine->windows().popupMenus().size(), 1u);
}

TEST_F(TrayTest, AboutFromTheMenuShowsTheBoxAndChangesNothingElse) {
    HANDLE copy = startCopy();
    auto before = *trayIcon();
    unsigned trayCalls = calls("Shell_NotifyIconA");
    const struct {
        const char* how;
        UINT message;
        WPARAM wParam;
    } closers[] = {
        {"OK", WM_COMMAND, IDOK},
        {"Escape", WM_COMMAND, IDCANCEL},
        {"the close box", WM_CLOSE, 0},
    };
    for (const auto& c : closers) {
        SCOPED_TRACE(c.how);
        choose({ID_TRAY_ABOUT});
        mouse(WM_RBUTTONDOWN);
        HWND about = aboutBox();
        ASSERT_NE(about, nullptr);
        auto w = machine->windows().window(about);
        EXPECT_EQ(w->templateId, IDD_ABOUTBOX);
        EXPECT_EQ(w->owner, mainWindow());
        EXPECT_TRUE(w->style & WS_VISIBLE);
        EXPECT_FALSE(machine->windows().window(mainWindow())->enabled) << "modal to the main window";

        post(about, c.message, c.wParam);
        EXPECT_EQ(aboutBox(), nullptr);
        EXPECT_TRUE(machine->windows().window(mainWindow())->enabled);
    }
    EXPECT_TRUE(running(copy));
    EXPECT_TRUE(SvcIsRunning());
    EXPECT_EQ(calls("Shell_NotifyIconA"), trayCalls);
    EXPECT_EQ(trayIcon()->icon, before.icon);
    EXPECT_FALSE(machine->windows().window(mainWindow())->everShown);
}

TEST_F(TrayTest, ForgedInitDialogsAndRepeatedAboutsChangeNothing) {
    HANDLE copy = startCopy();
    for (int i = 0; i < 10; ++i)
        post(mainWindow(), WM_COMMAND, ID_TRAY_ABOUT);
    EXPECT_EQ(windowsCaptioned(kAboutCaption), 1u);
    EXPECT_EQ(machine->windows().foreground(), aboutBox()) << "brought forward";

    // From another thread, to every window of the program: no object, and
    // one that is no dialog at all.
    unsigned registrations = calls("RegisterDeviceNotificationA");
    unsigned trayCalls = calls("Shell_NotifyIconA");
    static unsigned char junk[256];
    std::memset(junk, 0xA5, sizeof junk);
    for (const auto& w : machine->windows().windows())
        for (LPARAM lParam : {LPARAM{0}, reinterpret_cast<LPARAM>(junk)})
            post(w.handle, WM_INITDIALOG, 0, lParam);
    EXPECT_EQ(calls("RegisterDeviceNotificationA"), registrations) << "the listener made once";
    EXPECT_EQ(calls("Shell_NotifyIconA"), trayCalls) << "the main window made once";
    post(aboutBox(), WM_COMMAND, IDOK);
    EXPECT_EQ(aboutBox(), nullptr);

    reader->insert(sim::Card::Sdio);
    machine->advance(10000);
    EXPECT_EQ(reader->binding(), sim::Binding::Standard) << "the service still switches";
    exitFromMenu();
    EXPECT_TRUE(endsWithin(copy, 5000));
    EXPECT_TRUE(machine->notificationArea().icons().empty());
}

TEST_F(TrayTest, SystemCommandsSixteenToThirtyOneShowAbout) {
    HANDLE copy = startCopy();
    const struct {
        WPARAM command;
        bool about;
    } cases[] = {{16, true}, {17, true}, {31, true}, {15, false}, {32, false}, {SC_MOVE, false}, {0x0110, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        post(mainWindow(), WM_SYSCOMMAND, c.command);
        EXPECT_EQ(aboutBox() != nullptr, c.about);
        if (HWND about = aboutBox())
            post(about, WM_COMMAND, IDOK);
    }
    EXPECT_TRUE(running(copy));
    EXPECT_TRUE(trayIcon());
}

TEST_F(TrayTest, ExitStopsTheServiceRemovesTheIconAndEnds) {
    HANDLE copy = startCopy();
    HWND main = mainWindow();
    std::string stopEvent = arg(ghSvcStopEvent);
    machine->records().clear();
    exitFromMenu();
    ASSERT_TRUE(endsWithin(copy, 5000));
    EXPECT_EQ(exitCode(copy), 0u);
    EXPECT_TRUE(machine->notificationArea().icons().empty());
    EXPECT_FALSE(SvcIsRunning());
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(ghThreadMonitorSDIORegister, nullptr) << "the service's workers were waited for and released";

    // In order: stop, remove the icon, wait for the service, end the modal
    // run as cancelled; the window's end removes the icon once more, in vain.
    auto log = machine->records().calls();
    std::size_t close = indexOf(log, "PostMessageA", arg(main) + ",0x10,");
    std::size_t stop = indexOf(log, "SetEvent", stopEvent, close);
    std::size_t removed = indexOf(log, "Shell_NotifyIconA", "0x2,", stop);
    std::size_t waited =
        indexOf(log, "WaitForMultipleObjects", sim::describe(static_cast<DWORD>(kWorkerCount), TRUE, kCleanupWaitMs), removed);
    std::size_t ended = indexOf(log, "EndDialog", arg(main) + ",2", waited);
    std::size_t again = indexOf(log, "Shell_NotifyIconA", "0x2,", ended);
    EXPECT_LT(close, stop);
    EXPECT_LT(stop, removed);
    EXPECT_LT(removed, waited);
    EXPECT_LT(waited, ended);
    EXPECT_LT(ended, again);
    EXPECT_LT(again, log.size());
}

TEST_F(TrayTest, SystemCloseEndsTheProgramAsExitDoes) {
    HANDLE copy = startCopy();
    post(mainWindow(), WM_SYSCOMMAND, SC_CLOSE);
    ASSERT_TRUE(endsWithin(copy, 5000));
    EXPECT_TRUE(machine->notificationArea().icons().empty());
    EXPECT_FALSE(SvcIsRunning());
}

TEST_F(TrayTest, ExitIsBoundedWhileTheDeviceConsoleHangs) {
    reader->setDevconMode(sim::DevconMode::Hangs);
    HANDLE copy = startCopy();
    reader->insert(sim::Card::Sdio);
    machine->advance(5000);
    ASSERT_EQ(reader->devconCommands().size(), 1u) << "a switch is under way";
    auto asked = machine->now();
    exitFromMenu();
    ASSERT_TRUE(endsWithin(copy, kCleanupWaitMs + 5000));
    EXPECT_LE(machine->now() - asked, kCleanupWaitMs + 1000);
    EXPECT_TRUE(machine->notificationArea().icons().empty()) << "the icon goes before the wait";
    EXPECT_FALSE(SvcIsRunning());
}

TEST_F(TrayTest, WithTheServiceRefusedTheIconMenuAndExitStillWork) {
    machine->registry().deleteValue(kParamsPath, kValueIsSupportSDIO);
    HANDLE copy = startCopy();
    EXPECT_FALSE(SvcIsRunning());
    EXPECT_TRUE(traced("SvcInit: Not support SDIO"));
    ASSERT_TRUE(trayIcon());
    choose({});
    mouse(WM_RBUTTONDOWN);
    EXPECT_EQ(machine->windows().popupMenus().size(), 1u);
    exitFromMenu();
    EXPECT_TRUE(endsWithin(copy, 1000));
    EXPECT_TRUE(machine->notificationArea().icons().empty());
}

TEST_F(TrayTest, TaskbarRestartPutsTheIconBack) {
    startCopy();
    auto before = *trayIcon();
    auto calls = machine->faults().calls("Shell_NotifyIconA");
    // The new taskbar starts empty; the program, on its own thread, may put
    // the icon back at once, so only the call that did it is counted.
    machine->notificationArea().recreate();
    machine->advance(10);
    EXPECT_EQ(machine->faults().calls("Shell_NotifyIconA"), calls + 1);
    auto after = trayIcon();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->icon, before.icon);
    EXPECT_EQ(after->flags, before.flags);
    EXPECT_EQ(after->tip, before.tip);
    EXPECT_EQ(after->callbackMessage, before.callbackMessage);
    EXPECT_TRUE(mouse(WM_RBUTTONDOWN)) << "and it still answers the mouse";
}

TEST_F(TrayTest, IconRefusedAtStartComesWhenTheTaskbarDoes) {
    machine->notificationArea().setRefusing(true);
    HANDLE copy = startCopy();
    EXPECT_TRUE(machine->notificationArea().icons().empty());
    EXPECT_TRUE(machine->windows().messageBoxes().empty()) << "not reported";
    machine->notificationArea().recreate();
    machine->advance(10);
    EXPECT_TRUE(trayIcon());
    exitFromMenu();
    EXPECT_TRUE(endsWithin(copy, 1000));
}

TEST_F(TrayTest, IconImageIsLookedUpUnderTheProgramsFileName) {
    machine->system().programFile = "Cardwell-1.0.exe";
    startCopy();
    auto icon = trayIcon();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->icon, nullptr) << "added without an image";
    EXPECT_EQ(icon->flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_TRUE(machine->windows().window(mainWindow())->bigIcon) << "the window's own icon does not depend on it";
}

TEST_F(TrayTest, DragIconIsTheWindowIcon) {
    startCopy();
    auto icon = reinterpret_cast<HICON>(SendMessageA(mainWindow(), WM_QUERYDRAGICON, 0, 0));
    EXPECT_EQ(machine->resources().iconOf(icon), std::optional<WORD>(IDR_MAINFRAME));
}

TEST_F(TrayTest, FirstButtonDoesNothing) {
    HANDLE copy = startCopy();
    post(mainWindow(), WM_COMMAND, MAKEWPARAM(IDC_MAIN_BUTTON1, BN_CLICKED));
    EXPECT_TRUE(running(copy));
    EXPECT_TRUE(trayIcon());
}

// Started elevated, as the logon task does on Vista and 7, the program hears
// from the signed-in user's programs (Explorer among them) only the taskbar's
// restart and its icon's callback: the icon comes back and its menu opens,
// while another program's commands do not get in. XP has no integrity levels
// and no filter to change.
TEST_F(TrayTest, ElevatedCopyHearsTheTaskbarAndItsIconOnly) {
    const struct {
        const char* system;
        bool elevated;
        unsigned perWindow;  // calls of ChangeWindowMessageFilterEx
        unsigned perProcess; // calls of ChangeWindowMessageFilter
    } cases[] = {{"7-x64", true, 2, 0}, {"vista-x86", true, 0, 2}, {"xp-x86", false, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.system);
        restartOn(c.system);
        HANDLE copy = startCopy(kStartMs, c.elevated);
        HWND main = mainWindow();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(calls("ChangeWindowMessageFilterEx"), c.perWindow);
        EXPECT_EQ(calls("ChangeWindowMessageFilter"), c.perProcess);
        auto w = *machine->windows().window(main);
        std::set<UINT> admitted = machine->windows().processFilter(w.process);
        for (const auto& [message, allowed] : w.filter)
            if (allowed)
                admitted.insert(message);
        std::set<UINT> expected = {machine->windows().registeredMessage("TaskbarCreated"), kTrayCallback};
        EXPECT_EQ(admitted, c.perWindow + c.perProcess ? expected : std::set<UINT>{});

        if (c.elevated) {
            for (auto [message, wParam] : {std::pair<UINT, WPARAM>{WM_COMMAND, ID_TRAY_EXIT}, {WM_CLOSE, 0}}) {
                SCOPED_TRACE(message);
                SetLastError(0);
                EXPECT_FALSE(PostMessageA(main, message, wParam, 0));
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
                EXPECT_EQ(SendMessageA(main, message, wParam, 0), 0);
            }
            machine->advance(10);
            EXPECT_TRUE(running(copy));
            EXPECT_TRUE(SvcIsRunning());
        }
        machine->notificationArea().recreate();
        machine->advance(10);
        EXPECT_TRUE(trayIcon()) << "back after Explorer's restart";
        exitFromMenu();
        EXPECT_TRUE(endsWithin(copy, 5000)) << "its menu opened and Exit ended the program";
        EXPECT_TRUE(machine->notificationArea().icons().empty());
    }
}

// Every way out stops the service before the program ends, in the middle of a
// switch too, which it lets finish: the sign-out, OK or Cancel from another
// program (the window is never shown), a WM_QUIT. The process then ends by
// itself, with nothing left behind.
TEST_F(TrayTest, EveryWayOutStopsTheServiceAfterTheSwitchInProgress) {
    auto signOut = [&](HWND) {
        EXPECT_TRUE(machine->windows().endSession(ENDSESSION_LOGOFF)) << "the program agrees";
        // All done before the program answered: the session may end now.
        EXPECT_FALSE(SvcIsRunning());
        EXPECT_TRUE(machine->notificationArea().icons().empty());
        EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);
    };
    const struct {
        const char* name;
        bool aboutOpen;
        std::function<void(HWND)> leave;
        bool closes; // as Exit does: the service stopped and the icon gone before the run ends
    } cases[] = {
        {"sign-out", false, signOut, true},
        {"sign-out with the About box open", true, signOut, true},
        {"Cancel", false, [&](HWND main) { post(main, WM_COMMAND, IDCANCEL); }, true},
        {"OK", false, [&](HWND main) { post(main, WM_COMMAND, IDOK); }, true},
        {"WM_QUIT", false, [&](HWND main) { post(main, WM_QUIT); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restartOn("7-x64");
        reader->setDevconDuration(4000);
        HANDLE copy = startCopy();
        HWND main = mainWindow();
        std::string stopEvent = arg(ghSvcStopEvent);
        if (c.aboutOpen) {
            choose({ID_TRAY_ABOUT});
            mouse(WM_RBUTTONDOWN);
            ASSERT_NE(aboutBox(), nullptr);
        }
        reader->insert(sim::Card::Sdio);
        machine->advance(3000);
        ASSERT_EQ(reader->devconCommands().size(), 1u);
        ASSERT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 1u) << "a switch is under way";
        machine->records().clear();

        c.leave(main);
        ASSERT_TRUE(endsWithin(copy, 20000));
        EXPECT_EQ(reader->binding(), sim::Binding::Standard) << "the switch finished";
        EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);
        EXPECT_TRUE(machine->notificationArea().icons().empty());
        EXPECT_FALSE(SvcIsRunning());
        EXPECT_EQ(ghThreadOperateDriver, nullptr) << "the workers were waited for and released";
        EXPECT_EQ(aboutBox(), nullptr);
        if (c.closes) {
            auto log = machine->records().calls();
            std::size_t stop = indexOf(log, "SetEvent", stopEvent);
            std::size_t removed = indexOf(log, "Shell_NotifyIconA", "0x2,", stop);
            std::size_t ended = indexOf(log, "EndDialog", arg(main) + ",", removed);
            EXPECT_LT(stop, removed);
            EXPECT_LT(removed, ended);
            EXPECT_LT(ended, log.size());
        }
    }
}

// A WM_DESTROY (or WM_NCDESTROY) posted by another program is no end of the
// window: the icon stays, and the taskbar's restart and Exit still reach the
// program.
TEST_F(TrayTest, PostedDestroyChangesNothing) {
    HANDLE copy = startCopy();
    for (UINT message : {WM_DESTROY, WM_NCDESTROY})
        post(mainWindow(), message);
    EXPECT_TRUE(running(copy));
    EXPECT_TRUE(trayIcon());
    machine->notificationArea().recreate();
    machine->advance(10);
    EXPECT_TRUE(trayIcon()) << "the window's object still answers";
    exitFromMenu();
    EXPECT_TRUE(endsWithin(copy, 5000));
    EXPECT_TRUE(machine->notificationArea().icons().empty());
    EXPECT_FALSE(SvcIsRunning());
}

// A window whose object cannot be bound to it could never be closed: its run
// ends at once, as for a dialog that could not be made.
TEST_F(TrayTest, WindowWhoseObjectCannotBeBoundEndsItsRun) {
    const struct {
        const char* window;
        bool main;
    } cases[] = {{"main window", true}, {"About box", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        restartOn("7-x64");
        if (c.main)
            machine->faults().failNth("SetPropA", 1, ERROR_NOT_ENOUGH_MEMORY);
        HANDLE copy = startCopy();
        if (c.main) {
            EXPECT_TRUE(endsWithin(copy, 0)) << "the program ends";
            EXPECT_EQ(mainWindow(), nullptr);
            EXPECT_FALSE(SvcIsRunning());
        } else {
            machine->faults().failNth("SetPropA", 1, ERROR_NOT_ENOUGH_MEMORY);
            choose({ID_TRAY_ABOUT});
            mouse(WM_RBUTTONDOWN);
            EXPECT_EQ(aboutBox(), nullptr);
            EXPECT_TRUE(running(copy));
            EXPECT_TRUE(trayIcon());
        }
        auto ends = machine->records().calls("EndDialog");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].arguments.substr(ends[0].arguments.rfind(',')), ",-1");
    }
}

// Pieces of the platform that fail the program: none of it is reported, and
// Exit (the tray menu's command, however it comes) still ends everything.
struct Failure {
    const char* name;
    std::function<void(sim::Machine&)> arrange;
    std::function<void(TrayTest&, sim::Machine&)> check;
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

class TrayFailureTest : public TrayTest, public ::testing::WithParamInterface<Failure> {
public:
    using TrayTest::mainWindow;
    using TrayTest::trayIcon;
};

TEST_P(TrayFailureTest, ProgramGoesOnAndExitWorks) {
    GetParam().arrange(*machine);
    HANDLE copy = startCopy();
    ASSERT_TRUE(running(copy));
    ASSERT_NE(mainWindow(), nullptr);
    EXPECT_TRUE(machine->windows().messageBoxes().empty());
    EXPECT_FALSE(machine->windows().window(mainWindow())->everShown);
    choose({});
    mouse(WM_RBUTTONDOWN);
    GetParam().check(*this, *machine);
    EXPECT_EQ(machine->windows().menuCount(), 0u);

    post(mainWindow(), WM_COMMAND, ID_TRAY_EXIT);
    ASSERT_TRUE(endsWithin(copy, 5000));
    EXPECT_FALSE(SvcIsRunning());
    EXPECT_TRUE(machine->notificationArea().icons().empty());
}

HMENU systemMenuOf(TrayTest& t, sim::Machine& m) {
    auto w = m.windows().window(static_cast<TrayFailureTest&>(t).mainWindow());
    return w ? w->systemMenu : nullptr;
}

bool offersAbout(TrayTest& t, sim::Machine& m) {
    for (const auto& item : m.windows().menuItems(systemMenuOf(t, m)))
        if (item.id == IDM_ABOUTBOX)
            return true;
    return false;
}

std::optional<sim::TrayIcon> iconOf(TrayTest& t) { return static_cast<TrayFailureTest&>(t).trayIcon(); }

const Failure kFailures[] = {
    {"IconsMissing",
     [](sim::Machine& m) {
         m.resources().removeIcon(IDR_MAINFRAME);
         m.resources().removeIcon(IDI_TRAY);
     },
     [](TrayTest& t, sim::Machine& m) {
         ASSERT_TRUE(iconOf(t));
         EXPECT_EQ(iconOf(t)->icon, nullptr);
         EXPECT_EQ(m.windows().window(static_cast<TrayFailureTest&>(t).mainWindow())->bigIcon, nullptr);
         EXPECT_EQ(m.windows().popupMenus().size(), 1u);
     }},
    {"IconLoadsFail", [](sim::Machine& m) { m.faults().failAlways("LoadIconA", ERROR_NOT_ENOUGH_MEMORY); },
     [](TrayTest& t, sim::Machine&) {
         ASSERT_TRUE(iconOf(t));
         EXPECT_EQ(iconOf(t)->icon, nullptr);
     }},
    {"MenuMissing", [](sim::Machine& m) { m.resources().removeMenu(IDR_TRAY_MENU); },
     [](TrayTest& t, sim::Machine& m) {
         EXPECT_TRUE(m.windows().popupMenus().empty());
         EXPECT_TRUE(iconOf(t));
     }},
    {"MenuLoadFails", [](sim::Machine& m) { m.faults().failAlways("LoadMenuA", ERROR_NOT_ENOUGH_MEMORY); },
     [](TrayTest&, sim::Machine& m) { EXPECT_TRUE(m.windows().popupMenus().empty()); }},
    {"MenuCannotShow", [](sim::Machine& m) { m.faults().failAlways("TrackPopupMenu", ERROR_NOT_ENOUGH_MEMORY); },
     [](TrayTest&, sim::Machine& m) { EXPECT_EQ(m.faults().calls("DestroyMenu"), 1u); }},
    {"CursorUnknown", [](sim::Machine& m) { m.faults().failAlways("GetCursorPos", ERROR_ACCESS_DENIED); },
     [](TrayTest&, sim::Machine& m) {
         ASSERT_EQ(m.windows().popupMenus().size(), 1u);
         EXPECT_EQ(m.windows().popupMenus()[0].x, 0);
     }},
    {"AboutStringMissing", [](sim::Machine& m) { m.resources().removeString(IDS_ABOUTBOX); },
     [](TrayTest& t, sim::Machine& m) {
         EXPECT_FALSE(offersAbout(t, m));
         EXPECT_EQ(m.faults().calls("AppendMenuA"), 0u) << "no lone separator either";
     }},
    {"SystemMenuAppendFails", [](sim::Machine& m) { m.faults().failAlways("AppendMenuA", ERROR_NOT_ENOUGH_MEMORY); },
     [](TrayTest& t, sim::Machine& m) { EXPECT_FALSE(offersAbout(t, m)); }},
    {"NoSystemMenu", [](sim::Machine& m) { m.faults().failAlways("GetSystemMenu", ERROR_INVALID_WINDOW_HANDLE); },
     [](TrayTest&, sim::Machine& m) { EXPECT_EQ(m.faults().calls("LoadStringA"), 0u); }},
    {"TaskbarRefuses", [](sim::Machine& m) { m.notificationArea().setRefusing(true); },
     [](TrayTest&, sim::Machine& m) { EXPECT_TRUE(m.notificationArea().icons().empty()); }},
    {"IconCallsFail", [](sim::Machine& m) { m.faults().failAlways("Shell_NotifyIconA", ERROR_TIMEOUT); },
     [](TrayTest&, sim::Machine& m) { EXPECT_TRUE(m.notificationArea().icons().empty()); }},
    {"StyleCannotChange", [](sim::Machine& m) { m.faults().failAlways("SetWindowLongA", ERROR_ACCESS_DENIED); },
     [](TrayTest& t, sim::Machine&) { EXPECT_TRUE(iconOf(t)); }},
};

INSTANTIATE_TEST_SUITE_P(Tray, TrayFailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& failure) { return failure.param.name; });

} // namespace
