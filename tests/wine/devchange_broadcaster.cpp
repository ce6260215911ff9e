// Broadcasts a device change to every top-level window, from a process of
// its own, the way the system announces a change of the device tree:
//   devchange_broadcaster post|send|system CODE
// post: PostMessageA(HWND_BROADCAST); send: SendMessageTimeoutA, which
// returns once every window has handled it; system: BroadcastSystemMessageA
// to the applications. Records on the clock all processes share the moment
// just before the broadcast. Exits with 0 when the broadcast went out.
#include "wine_support.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    using namespace winetest;
    if (argc != 3)
        return 2;
    const char* method = argv[1];
    WPARAM code = std::strtoul(argv[2], nullptr, 0);
    constexpr UINT kSendLimitMs = 2000;

    long long at = nowUs();
    bool sent = false;
    if (std::strcmp(method, "post") == 0) {
        sent = PostMessageA(HWND_BROADCAST, WM_DEVICECHANGE, code, 0) != FALSE;
    } else if (std::strcmp(method, "send") == 0) {
        DWORD_PTR answer = 0;
        sent =
            SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, code, 0, SMTO_ABORTIFHUNG, kSendLimitMs, &answer) != 0;
    } else if (std::strcmp(method, "system") == 0) {
        DWORD recipients = BSM_APPLICATIONS;
        sent =
            BroadcastSystemMessageA(BSF_FORCEIFHUNG | BSF_IGNORECURRENTTASK, &recipients, WM_DEVICECHANGE, code, 0) > 0;
    } else {
        return 2;
    }
    setQword(HKEY_CURRENT_USER, kProbeKey, kProbeBroadcastAt, at);
    return sent ? 0 : 1;
}
