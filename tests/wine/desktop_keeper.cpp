// Holds Wine's desktop for a whole test run, as a logged-on Windows session
// always has one: desktop_keeper READY_FILE.
//
// Wine starts its desktop process when a program first asks for the desktop,
// on that program's display, and ends it a second after the last program
// using the desktop has gone. Left to the tests, a desktop started by a
// program without a display leaves the next program's windows failing, and
// two programs starting one at once can each get a desktop of their own. The
// test fixture starts this program once, with the run's display, and ends it
// with the server: from then on there is one desktop, and it can draw.
#include <windows.h>

int main(int argc, char** argv) {
    // A hidden top-level window makes the desktop exist and keeps this
    // program one of its users.
    HWND window = CreateWindowExA(0, "STATIC", "Cardwell desktop keeper", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window)
        return 1;
    if (argc > 1) {
        HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready == INVALID_HANDLE_VALUE)
            return 2;
        CloseHandle(ready);
    }
    // Until the server ends: broadcasts and the like are answered, so that
    // nobody waits on this window.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return 0;
}
