// The main window: never shown, it owns the tray icon, starts the service when
// it is made and stops it when it closes. Its modal run is the program's life.
#pragma once

#include "shell/dialog.h"

// The tray icon's identifier, and the message its mouse events arrive as.
constexpr UINT kTrayIconId = 2000;
constexpr UINT kTrayCallback = WM_USER + 1;
constexpr const char* kTrayTip = "Cardwell";
// The file name the tray icon's image is looked up under.
constexpr const char* kProgramFile = "Cardwell.exe";

class AboutDialog;

class MainDialog : public Dialog {
public:
    explicit MainDialog(HINSTANCE instance);

protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnEnded(HWND window) override;

private:
    // The window procedure's own part, looked at before the handlers: the
    // tray menu's commands and the tray callback. True when it answered.
    bool Intercept(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);
    BOOL OnInitDialog();
    void AdmitShellMessages();
    void Quit();
    void ShowTrayMenu();
    void ShowAbout();
    void AddTrayIcon();
    void RemoveTrayIcon(HWND window);

    HICON icon_;           // icon 128, the window's
    UINT taskbarCreated_;  // sent to every top-level window when the taskbar starts again
    AboutDialog* about_ = nullptr; // the About box while one is open
};
