#include "shell/tray_app.h"

#include "shell/main_dialog.h"
#include "shell/single_instance.h"

bool TrayApp::InitInstance() {
    if (!ClaimSingleInstance()) {
        MessageBoxA(nullptr, "Cardwell already has a instance which are running!", "Information",
                    MB_OK | MB_ICONINFORMATION);
        return false;
    }
    // No window here relies on control containers or the three-dimensional
    // look: nothing to enable for them.
    MainDialog main(instance_);
    main.DoModal(nullptr);
    return false;
}

int CardwellMain(HINSTANCE instance) {
    TrayApp app(instance);
    app.InitInstance();
    return 0;
}
