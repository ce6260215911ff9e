// The tray program on a simulated machine with the card reader installed:
// each copy of the program runs CardwellMain on a simulated thread of its
// own, as a process's main thread; the test plays the user and the taskbar.
#pragma once

#include "device_fixture.h"
#include "shell/main_dialog.h"
#include "shell/resource.h"
#include "shell/single_instance.h"
#include "shell/tray_app.h"

#include <string>
#include <vector>

namespace tray_test {

inline constexpr const char* kMainCaption = "Cardwell";
inline constexpr const char* kAboutCaption = "About Halvex Cardwell";
inline constexpr const char* kRefusal = "Cardwell already has a instance which are running!";
// Time for a copy to start: the service lets its threads settle for half a
// second inside the main window's initialisation.
inline constexpr DWORD kStartMs = 1000;

// A copy is a process of its own: elevated, as the logon task starts it on
// Vista and 7, when `elevated` is not null; else at the user's level.
inline DWORD WINAPI RunCopy(LPVOID elevated) {
    sim::Machine::current().kernel().beginProcess(elevated ? std::optional(sim::Integrity::High) : std::nullopt);
    return static_cast<DWORD>(CardwellMain(GetModuleHandleA(nullptr)));
}

} // namespace tray_test

class TrayTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        prepare();
    }

    // A machine as Windows behaves: a modal dialog is shown once its queue is
    // first empty, whatever its template says.
    void prepare() {
        SingleInstanceForgetProcessState();
        machine->windows().setDialogBoxShowsOnIdle(true);
        machine->windows().setCursorPos(812, 745);
    }

    void TearDown() override {
        if (machine) {
            endAll();
            for (HANDLE copy : copies)
                CloseHandle(copy);
        }
        copies.clear();
        SingleInstanceForgetProcessState();
        DeviceTest::TearDown();
    }

    // Starts one more copy of the program and lets it settle.
    HANDLE startCopy(DWORD settleMs = tray_test::kStartMs, bool elevated = false) {
        static int elevation;
        HANDLE copy = CreateThread(nullptr, 0, tray_test::RunCopy, elevated ? &elevation : nullptr, 0, nullptr);
        EXPECT_NE(copy, nullptr);
        copies.push_back(copy);
        machine->advance(settleMs);
        return copy;
    }

    bool running(HANDLE copy) { return WaitForSingleObject(copy, 0) == WAIT_TIMEOUT; }
    bool endsWithin(HANDLE copy, DWORD ms) { return WaitForSingleObject(copy, ms) == WAIT_OBJECT_0; }
    DWORD exitCode(HANDLE copy) {
        DWORD code = 0;
        GetExitCodeThread(copy, &code);
        return code;
    }

    HWND mainWindow() const { return machine->windows().findByCaption(tray_test::kMainCaption); }
    HWND aboutBox() const { return machine->windows().findByCaption(tray_test::kAboutCaption); }
    std::size_t windowsCaptioned(const std::string& caption) const {
        std::size_t n = 0;
        for (const auto& w : machine->windows().windows())
            n += w.caption == caption;
        return n;
    }
    std::optional<sim::TrayIcon> trayIcon() const {
        HWND main = mainWindow();
        return main ? machine->notificationArea().icon(main, kTrayIconId) : std::nullopt;
    }

    // The user's mouse on the tray icon; the program takes it in.
    bool mouse(UINT message) {
        bool delivered = machine->notificationArea().mouse(mainWindow(), kTrayIconId, message);
        machine->advance(10);
        return delivered;
    }
    // The next context menus' choices, one per menu; 0 closes it unchosen.
    void choose(std::vector<UINT> commands) {
        auto queue = std::make_shared<std::vector<UINT>>(std::move(commands));
        machine->windows().setMenuChooser([queue](const sim::PopupMenuShown&) -> UINT {
            if (queue->empty())
                return 0;
            UINT c = queue->front();
            queue->erase(queue->begin());
            return c;
        });
    }
    // Exit from the tray menu.
    void exitFromMenu() {
        choose({ID_TRAY_EXIT});
        mouse(WM_RBUTTONDOWN);
    }
    void post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        ASSERT_TRUE(PostMessageA(window, message, wParam, lParam));
        machine->advance(10);
    }

    // A fresh machine of the named system with nothing running.
    void restartOn(const std::string& system) {
        endAll();
        for (HANDLE copy : copies)
            CloseHandle(copy);
        copies.clear();
        sim::MachineOptions options;
        options.system = sim::SystemConfig::named(system);
        restart(options);
        prepare();
    }

    // Closes whatever boxes are open and asks every copy to end, as an
    // administrator's tool would, which an elevated copy hears too.
    void endAll() {
        auto post = [&](HWND h, UINT message, WPARAM wParam) {
            machine->windows().postFrom(sim::Integrity::High, h, message, wParam, 0);
        };
        for (HWND box : {aboutBox(), machine->windows().findByCaption("Information")})
            if (box)
                post(box, WM_COMMAND, IDCANCEL);
        machine->advance(10);
        if (HWND main = mainWindow())
            post(main, WM_CLOSE, 0);
        for (HANDLE copy : copies)
            EXPECT_TRUE(endsWithin(copy, 2 * kCleanupWaitMs)) << "a copy of the program did not end";
    }

    std::vector<HANDLE> copies;
};
