// Resource identifiers of Cardwell.exe, shared by the program and its
// resource script.
#pragma once

#define IDD_DIALOG_SDIO 129
#define IDC_BUTTON1 1000
