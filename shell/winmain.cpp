// Cardwell.exe's entry on Windows.
#include "shell/tray_app.h"

namespace {

// Takes the current directory out of the DLL search for whatever this process
// loads by name from now on, and for the programs it starts: the directory
// Cardwell was started in may be anyone's. SetDllDirectoryA came with Windows
// XP SP1 and Server 2003: where kernel32 lacks it, there is nothing to set.
void leaveCurrentDirectoryOutOfDllSearch() {
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel32 ? GetProcAddress(kernel32, "SetDllDirectoryA") : nullptr;
    if (found)
        reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(found))("");
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    leaveCurrentDirectoryOutOfDllSearch();
    return CardwellMain(instance);
}
