// The simulated machine's own promises that the conformance suite cannot
// check against Windows: virtual time, deadlock reports, fault injection, the
// call log, and teardown with threads still blocked.
#include "sim_fixture.h"

namespace {

using SimKernelTest = SimTest;

DWORD WINAPI sleepThenSignal(LPVOID arg) {
    Sleep(5000);
    SetEvent(static_cast<HANDLE>(arg));
    return 7;
}

DWORD WINAPI waitForever(LPVOID arg) {
    WaitForSingleObject(static_cast<HANDLE>(arg), INFINITE);
    return 0;
}

TEST_F(SimKernelTest, TimeJumpsToTheEarliestDeadlineWhenAllThreadsWait) {
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, sleepThenSignal, done, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(done, 1000), WAIT_TIMEOUT);
    EXPECT_EQ(machine->now(), 1000u);
    EXPECT_EQ(WaitForSingleObject(done, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(machine->now(), 5000u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    machine->advance(3'600'000); // an hour
    EXPECT_EQ(machine->now(), 3'605'000u);
    CloseHandle(thread);
    CloseHandle(done);
    EXPECT_EQ(machine->openHandles(), 0u);
}

TEST_F(SimKernelTest, TickCounterWrapsAtThirtyTwoBits) {
    start(sim::MachineOptions{0xFFFFFF00u, true});
    EXPECT_EQ(GetTickCount(), 0xFFFFFF00u);
    Sleep(0x200);
    EXPECT_EQ(GetTickCount(), 0x100u);
    EXPECT_EQ(GetTickCount() - 0xFFFFFF00u, 0x200u) << "unsigned differences survive the wrap";
}

TEST_F(SimKernelTest, WaitWithNoDeadlineAnywhereIsReportedNotHung) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, waitForever, never, 0, nullptr);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_POSSIBLE_DEADLOCK));
    EXPECT_NE(machine->deadlockReport().find("WaitForSingleObject"), std::string::npos);
    // Unblock the worker so that the fixture's teardown sees a clean machine.
    SetEvent(never);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(never);
    start({}); // the report belongs to the old machine
}

TEST_F(SimKernelTest, TeardownEndsThreadsThatStillWait) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < 3; ++i)
        CloseHandle(CreateThread(nullptr, 0, waitForever, never, 0, nullptr));
    machine->advance(10);
    EXPECT_EQ(machine->threads(), 4u);
    start({}); // must return, not hang
    EXPECT_EQ(machine->threads(), 1u);
}

DWORD WINAPI endAtOnce(LPVOID) { return 0; }

TEST_F(SimKernelTest, EndedThreadsAreJoinedWhenTheNextStarts) {
    for (int i = 0; i < 100; ++i)
        CloseHandle(CreateThread(nullptr, 0, endAtOnce, nullptr, 0, nullptr));
    machine->advance(10);
    EXPECT_EQ(machine->threads(), 1u);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE last = CreateThread(nullptr, 0, sleepThenSignal, done, 0, nullptr);
    EXPECT_EQ(machine->hostThreads(), 1u) << "the hundred that ended are joined";
    WaitForSingleObject(last, INFINITE);
    CloseHandle(last);
    CloseHandle(done);
}

TEST_F(SimKernelTest, FaultsHitTheChosenCallsOnly) {
    machine->faults().failNth("CreateEventA", 2, ERROR_NOT_ENOUGH_MEMORY);
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HANDLE c = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    machine->faults().failAlways("SetEvent", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetEvent(a));
    EXPECT_FALSE(SetEvent(c));
    machine->faults().clear("SetEvent");
    EXPECT_TRUE(SetEvent(a));
    EXPECT_EQ(machine->faults().calls("SetEvent"), 3u);
    CloseHandle(a);
    CloseHandle(c);
}

TEST_F(SimKernelTest, CallLogKeepsArgumentsTimeAndThread) {
    Sleep(250);
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key);
    RegCloseKey(key);
    auto opens = machine->records().calls("RegOpenKeyExA");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_NE(opens[0].arguments.find("\"SOFTWARE\""), std::string::npos);
    EXPECT_EQ(opens[0].time, 250u);
    EXPECT_EQ(opens[0].thread, GetCurrentThreadId());
}

TEST_F(SimKernelTest, AutoResetEventGoesToTheLongestWaiterOnly) {
    HANDLE gate = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE t1 = CreateThread(nullptr, 0, waitForever, gate, 0, nullptr);
    machine->advance(1);
    HANDLE t2 = CreateThread(nullptr, 0, waitForever, gate, 0, nullptr);
    machine->advance(1);
    SetEvent(gate);
    HANDLE both[] = {t1, t2};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 100), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(t2, 0), WAIT_TIMEOUT);
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(t2, 100), WAIT_OBJECT_0);
    CloseHandle(t1);
    CloseHandle(t2);
    CloseHandle(gate);
}

} // namespace
