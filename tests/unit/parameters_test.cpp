// The parameters key accessors against the simulated registry: values of any
// type and size, a missing key, refused rights, and the retry rule in virtual
// time.
#include "sim_fixture.h"

#include <vector>

namespace {

std::vector<BYTE> bytes(std::initializer_list<int> list) {
    std::vector<BYTE> out;
    for (int b : list)
        out.push_back(static_cast<BYTE>(b));
    return out;
}

class ParametersTest : public SimTest {
protected:
    void TearDown() override {
        // Every accessor closes the key before it returns, whatever happened.
        if (machine) {
            EXPECT_EQ(machine->openKeys(), 0u);
        }
        SimTest::TearDown();
    }
};

struct GateCase {
    const char* name;
    bool present;
    DWORD type;
    std::vector<BYTE> data;
    bool expected;
    const char* trace;
};

TEST_F(ParametersTest, SupportGateReadsFourBytesOfAnyTypeAndNothingElse) {
    const GateCase cases[] = {
        {"absent", false, REG_NONE, {}, false, "supportSDIO:Error(2) RegQueryValueEx."},
        {"one", true, REG_DWORD, bytes({1, 0, 0, 0}), true,
         "supportSDIO: IsSupportSDIO = 1 (0:Not support; 1:support.)."},
        {"zero", true, REG_DWORD, bytes({0, 0, 0, 0}), false, "IsSupportSDIO = 0"},
        {"two", true, REG_DWORD, bytes({2, 0, 0, 0}), false, "IsSupportSDIO = 2"},
        {"binary holding one", true, REG_BINARY, bytes({1, 0, 0, 0}), true, "IsSupportSDIO = 1"},
        {"string of four bytes", true, REG_SZ, bytes({'1', 0, 0, 0}), false, "IsSupportSDIO = 49"},
        {"eight bytes", true, REG_QWORD, bytes({1, 0, 0, 0, 0, 0, 0, 0}), false,
         "supportSDIO:Error(EA) RegQueryValueEx."},
        {"two bytes", true, REG_BINARY, bytes({1, 0}), false, "supportSDIO:Error(D) RegQueryValueEx."},
        {"empty", true, REG_BINARY, {}, false, "supportSDIO:Error(D) RegQueryValueEx."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({});
        registry().createKey(kParamsPath);
        if (c.present)
            registry().setValue(kParamsPath, kValueIsSupportSDIO, c.type, c.data);
        EXPECT_EQ(supportSDIO(), c.expected);
        EXPECT_TRUE(traced(c.trace));
    }
}

TEST_F(ParametersTest, MissingKeyIsCreatedEmptyAndVolatileOnlyBeneathTheDriversServiceKey) {
    const std::string service = std::string("HKLM\\") + kDriverServiceKey;
    // No driver installed: as a key that cannot be opened, and nothing made.
    EXPECT_FALSE(supportSDIO());
    EXPECT_TRUE(traced("supportSDIO:Error(2) in RegCreateKeyEx."));
    EXPECT_EQ(ReadDeviceID(), 0u);
    EXPECT_TRUE(traced("ReadDeviceID: Error(2) in RegCreateKeyEx."));
    EXPECT_FALSE(registry().keyExists(service));

    registry().createKey(service);
    EXPECT_FALSE(supportSDIO());
    EXPECT_TRUE(registry().keyIsVolatile(kParamsPath));
    registry().restart();
    EXPECT_FALSE(registry().keyExists(kParamsPath));
    EXPECT_TRUE(registry().keyExists(service)) << "the driver's own key keeps its persistence";
}

TEST_F(ParametersTest, ExistingKeyKeepsItsPersistence) {
    registry().setDword(kParamsPath, kValueIsSupportSDIO, 1);
    EXPECT_TRUE(supportSDIO());
    EXPECT_FALSE(registry().keyIsVolatile(kParamsPath));
}

TEST_F(ParametersTest, WithoutAdministrativeRightsTheGateIsClosed) {
    start(sim::MachineOptions{0, false});
    registry().setDword(kParamsPath, kValueIsSupportSDIO, 1);
    registry().setDword(kParamsPath, kValueDeviceId, 0x1234);
    EXPECT_FALSE(supportSDIO());
    EXPECT_TRUE(traced("supportSDIO:Error(5) in RegCreateKeyEx."));
    EXPECT_EQ(ReadDeviceID(), 0u);
    EXPECT_TRUE(traced("ReadDeviceID: Error(5) in RegCreateKeyEx."));
    DWORD flag = 7;
    EXPECT_EQ(ReadDriverSwitchFlag(&flag), ERROR_ACCESS_DENIED);
    EXPECT_EQ(flag, 7u);
    EXPECT_EQ(WriteDriverSwitchFlag(1), ERROR_ACCESS_DENIED);
}

TEST_F(ParametersTest, RefusedRightOnTheKeyItselfClosesTheGate) {
    registry().setDword(kParamsPath, kValueIsSupportSDIO, 1);
    registry().denyAccess(kParamsPath, KEY_SET_VALUE);
    EXPECT_FALSE(supportSDIO());
}

TEST_F(ParametersTest, DeviceIdIsReadUnchecked) {
    const struct {
        DWORD stored;
        const char* trace;
    } cases[] = {{0x1234, "ReadDeviceID: DeviceId = 1234 ."},
                 {0x5, "ReadDeviceID: DeviceId = 0005 ."},
                 {0x10000, "ReadDeviceID: DeviceId = 10000 ."}};
    for (const auto& c : cases) {
        start({});
        registry().setDword(kParamsPath, kValueDeviceId, c.stored);
        EXPECT_EQ(ReadDeviceID(), c.stored);
        EXPECT_TRUE(traced(c.trace)) << c.trace;
    }
    start({});
    registry().createKey(kParamsPath);
    EXPECT_EQ(ReadDeviceID(), 0u);
    EXPECT_TRUE(traced("ReadDeviceID:Error(2) RegQueryValueEx."));
}

TEST_F(ParametersTest, SwitchFlagReaderLeavesItsOutputAloneOnFailure) {
    DWORD flag = 0xAA;
    // No key: the reader only opens, it never creates.
    EXPECT_EQ(ReadDriverSwitchFlag(&flag), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(registry().keyExists(kParamsPath));
    EXPECT_TRUE(traced("ReadDriverSwitchFlag:Error(2) in RegOpenKeyEx."));
    registry().createKey(kParamsPath);
    EXPECT_EQ(ReadDriverSwitchFlag(&flag), ERROR_FILE_NOT_FOUND);
    registry().setValue(kParamsPath, kValueDriverSwitchFlag, REG_BINARY, bytes({1, 0, 0, 0, 0}));
    EXPECT_EQ(ReadDriverSwitchFlag(&flag), ERROR_MORE_DATA);
    EXPECT_EQ(flag, 0xAAu);
    registry().setDword(kParamsPath, kValueDriverSwitchFlag, 1);
    EXPECT_EQ(ReadDriverSwitchFlag(&flag), ERROR_SUCCESS);
    EXPECT_EQ(flag, 1u);
    EXPECT_TRUE(traced("ReadDriverSwitchFlag:RegQueryValueEx dwValue = 1."));
}

TEST_F(ParametersTest, WritersStoreFourByteDwordsIntoAnExistingKeyOnly) {
    EXPECT_EQ(WriteDriverSwitchFlag(1), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WriteDriverSwitchingForTimerbar(kSwitchingToMaker), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(registry().keyExists(kParamsPath));
    EXPECT_TRUE(traced("WriteDriverSwitchFlag : beign to Write 1 now"));
    EXPECT_TRUE(traced("WriteDriverSwitchFlag : Error(2) in RegOpenKeyEx."));
    EXPECT_TRUE(traced("WriteDriverSwitchingForTimerbar : switching to 0x81"));
    EXPECT_TRUE(traced("WriteDriverSwitchingForTimerbar : Error(2) in RegOpenKeyEx."));

    registry().createKey(kParamsPath);
    EXPECT_EQ(WriteDriverSwitchFlag(1), ERROR_SUCCESS);
    EXPECT_EQ(WriteDriverSwitchingForTimerbar(kSwitchingToMaker), ERROR_SUCCESS);
    auto flag = registry().value(kParamsPath, kValueDriverSwitchFlag);
    ASSERT_TRUE(flag);
    EXPECT_EQ(flag->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(flag->data, bytes({1, 0, 0, 0}));
    EXPECT_EQ(registry().dword(kParamsPath, kValueIsSwitchingDrv), 0x81u);
}

TEST_F(ParametersTest, FailedStoreReportsItsStatusAfterClosingTheKey) {
    registry().createKey(kParamsPath);
    machine->faults().failNth("RegSetValueExA", 1, ERROR_CANTWRITE);
    EXPECT_EQ(WriteDriverSwitchFlag(1), ERROR_CANTWRITE);
    EXPECT_TRUE(traced("WriteDriverSwitchFlag : failed in RegSetValueEx(3F5)."));
    machine->faults().failNth("RegSetValueExA", 1, ERROR_CANTWRITE);
    EXPECT_EQ(WriteDriverSwitchingForTimerbar(0), ERROR_CANTWRITE);
    EXPECT_TRUE(traced("WriteDriverSwitchingForTimerbar : failed in RegSetValueEx(3F5)."));
}

TEST_F(ParametersTest, RetryRuleGivesUpAfterAHundredCallsAndTwoSeconds) {
    registry().createKey(kParamsPath); // DriverSwitchFlag absent: every read fails
    DWORD flag = 0;
    auto virtualStart = machine->now();
    LONG status = switchFlagRetry([&] { return ReadDriverSwitchFlag(&flag); });
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(machine->faults().calls("RegQueryValueExA"), 100u);
    EXPECT_EQ(machine->now() - virtualStart, 2000u); // a 20 ms pause after each failure, the last included
}

TEST_F(ParametersTest, RetryRuleStopsAtTheFirstSuccess) {
    registry().createKey(kParamsPath);
    machine->faults().failNext("RegOpenKeyExA", 2, ERROR_ACCESS_DENIED);
    auto virtualStart = machine->now();
    EXPECT_EQ(switchFlagRetry([] { return WriteDriverSwitchFlag(1); }), ERROR_SUCCESS);
    EXPECT_EQ(machine->faults().calls("RegOpenKeyExA"), 3u);
    EXPECT_EQ(machine->now() - virtualStart, 40u);
    EXPECT_EQ(registry().dword(kParamsPath, kValueDriverSwitchFlag), 1u);
}

} // namespace
