// Cardwell.exe's entry on Windows.
#include "shell/tray_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return CardwellMain(instance); }
