#include "shell/main_dialog.h"

#include "service/hidden_window.h"
#include "service/service.h"
#include "shell/about_dialog.h"
#include "shell/resource.h"

#include <cstring>

namespace {

// The tray icon record, in the layout whose size Windows 2000 and later all
// accept. Removal needs only the window and the identifier.
NOTIFYICONDATAA TrayRecord(HWND window, HICON icon) {
    NOTIFYICONDATAA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = NOTIFYICONDATAA_V2_SIZE;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallback;
    record.hIcon = icon;
    std::strcpy(record.szTip, kTrayTip);
    return record;
}

} // namespace

MainDialog::MainDialog(HINSTANCE instance)
    : Dialog(instance, IDD_CARDWELL_DIALOG), icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {}

void MainDialog::AddTrayIcon() {
    // The image comes from the module named Cardwell.exe; under another name
    // the lookup finds nothing and the icon goes in without one.
    HICON image = LoadIconA(GetModuleHandleA(kProgramFile), MAKEINTRESOURCEA(IDI_TRAY));
    NOTIFYICONDATAA record = TrayRecord(window(), image);
    Shell_NotifyIconA(NIM_ADD, &record); // a refused icon leaves the program running without one
}

void MainDialog::RemoveTrayIcon(HWND window) {
    // The shell knows the icon by window and identifier, also once the
    // window itself is gone.
    NOTIFYICONDATAA record = TrayRecord(window, nullptr);
    Shell_NotifyIconA(NIM_DELETE, &record);
}

void MainDialog::AdmitShellMessages() {
    // Run elevated (Vista and later), this process hears from programs of
    // the signed-in user's lower integrity, Explorer among them, only what
    // its message filter lets in: the taskbar's restart, so that the icon
    // comes back, and the icon's own callback, whose handler only opens the
    // menu. Nothing else. Windows 7 filters per window, Vista per process;
    // XP has neither and needs none, so both are looked up by name.
    using WindowFilterFn = decltype(&ChangeWindowMessageFilterEx);
    using ProcessFilterFn = decltype(&ChangeWindowMessageFilter);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (!user32)
        return;
    const UINT admitted[] = {taskbarCreated_, kTrayCallback};
    if (auto perWindow = reinterpret_cast<WindowFilterFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
        for (UINT message : admitted)
            if (message)
                perWindow(window(), message, MSGFLT_ALLOW, nullptr);
        return;
    }
    if (auto perProcess = reinterpret_cast<ProcessFilterFn>(
            reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter"))))
        for (UINT message : admitted)
            if (message)
                perProcess(message, MSGFLT_ADD);
}

void MainDialog::ShowAbout() {
    // A request while the box is open (its modal loop still dispatches the
    // main window's messages) brings that box forward: About boxes are not
    // stacked inside each other.
    if (about_) {
        if (HWND open = about_->window())
            SetForegroundWindow(open);
        return;
    }
    AboutDialog about(instance());
    about_ = &about;
    about.DoModal(window());
    about_ = nullptr;
}

void MainDialog::ShowTrayMenu() {
    HMENU menu = LoadMenuA(instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (!menu)
        return;
    if (HMENU popup = GetSubMenu(menu, 0)) {
        POINT at = {0, 0};
        GetCursorPos(&at);
        // A context menu closes on a click elsewhere only when its owner is
        // the foreground window; the empty message after it lets the menu
        // finish closing before the next one can open.
        SetForegroundWindow(window());
        TrackPopupMenu(popup, 0, at.x, at.y, 0, window(), nullptr);
        PostMessageA(window(), WM_NULL, 0, 0);
    }
    DestroyMenu(menu);
}

BOOL MainDialog::OnInitDialog() {
    Default(WM_INITDIALOG, 0, 0);

    if (HMENU system = GetSystemMenu(window(), FALSE)) {
        char about[128];
        if (LoadStringA(instance(), IDS_ABOUTBOX, about, sizeof about) > 0) {
            AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(system, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessageA(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    // A tool window has no taskbar button.
    LONG exStyle = GetWindowLongA(window(), GWL_EXSTYLE);
    SetWindowLongA(window(), GWL_EXSTYLE, (exStyle & ~static_cast<LONG>(WS_EX_APPWINDOW)) | WS_EX_TOOLWINDOW);

    AdmitShellMessages();
    AddTrayIcon();

    SetWindowPos(window(), nullptr, -10, -10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window(), SW_HIDE);

    SvcInit(0, 0); // whether the service started is the service's own affair
    return TRUE;
}

void MainDialog::Quit() {
    // Every way out comes here: the service stopped and cleaned up (which
    // waits for a switch in progress to finish), the icon removed, the run
    // ended, and with it an About box that is open, so that nothing keeps
    // the process once this message has been answered.
    SvcStop();
    RemoveTrayIcon(window());
    SvcCleanup();
    if (about_)
        about_->End(IDCANCEL);
    End(IDCANCEL);
}

void MainDialog::OnEnded(HWND window) {
    // However the run ended (a WM_QUIT ends it too, without a close), the
    // service does not outlive it, nor does the icon. After a close this
    // finds nothing left to do.
    SvcStop();
    RemoveTrayIcon(window);
    SvcCleanup();
}

bool MainDialog::Intercept(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    if (message == WM_COMMAND && LOWORD(wParam) == ID_TRAY_EXIT) {
        PostMessageA(window(), WM_CLOSE, 0, 0);
        *result = TRUE;
        return true;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == ID_TRAY_ABOUT) {
        ShowAbout();
        return false; // on to the handlers, which find nothing more to do
    }
    if (message == kTrayCallback) {
        // Only the right button's press opens the menu; its release, the left
        // button and double clicks do nothing.
        if (lParam == WM_RBUTTONDOWN)
            ShowTrayMenu();
        *result = TRUE;
        return true;
    }
    if (taskbarCreated_ && message == taskbarCreated_) {
        // A new taskbar knows no icons: ours goes back in.
        AddTrayIcon();
        *result = TRUE;
        return true;
    }
    return false;
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (Intercept(message, wParam, lParam, &result))
        return result;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_WINDOWPOSCHANGING:
        RefuseToBeShown(lParam); // never shown, not even by the modal loop
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_MAIN_BUTTON1 && HIWORD(wParam) == BN_CLICKED)
            return TRUE;
        // The window is never shown: OK or Cancel comes only from another
        // program, and a close is what it can mean.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            Quit();
            return TRUE;
        }
        break;
    case WM_CLOSE:
        Quit(); // ends the modal run as cancelled, as the platform's close would
        return TRUE;
    case WM_ENDSESSION:
        // The session ends once this returns, and the process with it: all
        // is done before. WM_QUERYENDSESSION is left to the platform, which
        // agrees.
        if (wParam)
            Quit();
        return TRUE;
    default:
        break;
    }
    // WM_PAINT is left to the platform: the window is never shown and has no
    // minimise box, so it is never drawn minimised.
    return Default(message, wParam, lParam);
}
