// The device-change listener on the running service: which broadcasts raise
// the request, a dialog that never ends, and a dialog that cannot run.
#include "device_fixture.h"
#include "service/device_change_listener.h"

namespace {

class ListenerTest : public DeviceTest {
protected:
    void TearDown() override {
        SvcStop();
        SvcCleanup();
        DeviceTest::TearDown();
    }
    int requestsTaken() { return countTraced("ThreadRequestFilter: WAIT_OBJECT_0 + 1 Event signaled!"); }
    void broadcast(WPARAM code) {
        machine->windows().broadcast(WM_DEVICECHANGE, code, 0);
        machine->advance(10);
    }
};

TEST_F(ListenerTest, OnlyDeviceNodeChangesRaiseTheRequest) {
    SvcInit(0, 0);
    const struct {
        WPARAM code;
        const char* trace; // nullptr: unlisted
        bool request;
    } cases[] = {
        {DBT_DEVNODES_CHANGED, "DBT_DEVNODES_CHANGED", true},
        {DBT_CONFIGCHANGED, "DBT_CONFIGCHANGED", false},
        {DBT_DEVICEARRIVAL, "DBT_DEVICEARRIVAL", false},
        {DBT_DEVICEQUERYREMOVE, "DBT_DEVICEQUERYREMOVE", false},
        {DBT_DEVICEQUERYREMOVEFAILED, "DBT_DEVICEQUERYREMOVEFAILED", false},
        {DBT_DEVICEREMOVEPENDING, "DBT_DEVICEREMOVEPENDING", false},
        {DBT_DEVICEREMOVECOMPLETE, "DBT_DEVICEREMOVECOMPLETE", false},
        {DBT_DEVICETYPESPECIFIC, "DBT_DEVICETYPESPECIFIC", false},
        {0x0017, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        int seen = countTraced("[WM_DEVICECHANGE]");
        int requests = requestsTaken();
        broadcast(c.code);
        EXPECT_EQ(countTraced("[WM_DEVICECHANGE]"), seen + 1) << "only the modal dialog has a procedure";
        if (c.trace) {
            EXPECT_TRUE(traced(c.trace));
        }
        EXPECT_EQ(requestsTaken(), requests + (c.request ? 1 : 0));
        machine->advance(20000);
    }
}

TEST_F(ListenerTest, WindowSitsOffScreenAndItsRegistrationLastsOneMessage) {
    SvcInit(0, 0);
    auto w = machine->windows().window(ghDialogWnd);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->caption, "IDD_DIALOG_SDIO");
    EXPECT_EQ(w->x, -10);
    EXPECT_EQ(w->y, -10);
    EXPECT_EQ(w->cx, 61) << "size unchanged";
    EXPECT_FALSE(w->style & WS_VISIBLE);
    EXPECT_EQ(machine->faults().calls("RegisterDeviceNotificationA"), 1u);
    EXPECT_EQ(machine->faults().calls("UnregisterDeviceNotification"), 1u);
    EXPECT_EQ(machine->windows().deviceNotifications(), 0u);
    EXPECT_EQ(ghDevNotify, nullptr);
}

TEST_F(ListenerTest, PositionChangeWithoutItsRecordIsIgnored) {
    SvcInit(0, 0);
    HWND listener = ghDialogWnd;
    EXPECT_EQ(SendMessageA(listener, WM_WINDOWPOSCHANGING, 0, 0), 0);
    broadcast(DBT_DEVNODES_CHANGED);
    EXPECT_EQ(requestsTaken(), 1) << "the listener still listens";
    EXPECT_FALSE(machine->windows().window(listener)->style & WS_VISIBLE);
}

TEST_F(ListenerTest, CloseRequestLeavesTheListenerRunning) {
    SvcInit(0, 0);
    HWND modal = ghDialogWnd;
    PostMessageA(modal, WM_CLOSE, 0, 0);
    machine->advance(10);
    EXPECT_TRUE(IsWindow(modal));
    broadcast(DBT_DEVNODES_CHANGED);
    EXPECT_TRUE(traced("DBT_DEVNODES_CHANGED"));
}

TEST_F(ListenerTest, FailedRegistrationChangesNothing) {
    machine->faults().failAlways("RegisterDeviceNotificationA", ERROR_INVALID_PARAMETER);
    SvcInit(0, 0);
    EXPECT_TRUE(traced("RegisterDeviceNotification"));
    EXPECT_TRUE(traced("DoRegisterDeviceInterfaceToHwnd"));
    broadcast(DBT_DEVNODES_CHANGED);
    EXPECT_EQ(requestsTaken(), 1);
}

TEST_F(ListenerTest, DialogThatCannotRunEndsTheThreadAtStop) {
    machine->faults().failAlways("DialogBoxParamA", ERROR_RESOURCE_NAME_NOT_FOUND);
    SvcInit(0, 0);
    HANDLE listener = ghThreadDialog;
    EXPECT_EQ(WaitForSingleObject(listener, 1000), WAIT_TIMEOUT) << "it waits for the stop request";
    SvcStop();
    machine->advance(10);
    EXPECT_TRUE(traced("DestroyWindow Dialog"));
    EXPECT_TRUE(traced("Exit DialogThread"));
    EXPECT_EQ(ghDialogWnd, nullptr);
    EXPECT_EQ(machine->windows().windowCount(), 0u);
}

} // namespace
