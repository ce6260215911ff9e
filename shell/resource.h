// Resource identifiers of Cardwell.exe, shared by the program and its
// resource script.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialogs
#define IDD_ABOUTBOX 100
#define IDD_CARDWELL_DIALOG 102
#define IDD_DIALOG_SDIO 129

// Icons: the window's (also in the About box) and the notification area's
#define IDR_MAINFRAME 128
#define IDI_TRAY 130

// The tray icon's menu and its commands
#define IDR_TRAY_MENU 131
#define ID_TRAY_EXIT 32771
#define ID_TRAY_ABOUT 32772

// The system menu's About item, and its text
#define IDM_ABOUTBOX 0x0010
#define IDS_ABOUTBOX 101

// Controls
#define IDC_BUTTON1 1000
#define IDC_MAIN_BUTTON1 1001
#define IDC_MAIN_BUTTON2 1002
#define IDC_MAIN_BUTTON3 1003
#define IDC_MAIN_BUTTON4 1004
