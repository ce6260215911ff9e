// The driver changer: classification of the running system, each refusal in
// its order, the exact tool command for every system, IsSwitchingDrv around
// every run, and texts that would not fit.
#include "device_fixture.h"
#include "service/driver_changer.h"

#include <string>
#include <vector>

namespace {

class ChangerTest : public DeviceTest {
protected:
    void onSystem(const std::string& name, const std::string& windowsDirectory = "C:\\WINDOWS") {
        sim::MachineOptions options;
        options.system = sim::SystemConfig::named(name);
        options.system.windowsDirectory = windowsDirectory;
        restart(options);
        gdwDeviceId = 0x1234;
    }
    std::vector<sim::ProgramRun> runs() { return machine->programs().runs(); }
};

TEST_F(ChangerTest, ClassifiesEverySupportedSystemAndRefusesTheRest) {
    const struct {
        const char* system;
        bool nativeLookup;
        int ok;
        BYTE code;
    } cases[] = {
        {"xp-x86", true, 1, 0x00},      {"xp-x64", true, 1, 0x01},      {"2003-x86", true, 1, 0x00},
        {"2003-x64", true, 1, 0x01},    {"vista-x86", true, 1, 0x10},   {"vista-x64", true, 1, 0x11},
        {"7-x86", true, 1, 0x20},       {"7-x64", true, 1, 0x21},
        {"7-x64-wow64", true, 1, 0x21}, // a 32-bit build on 64-bit Windows 7
        {"7-x64-wow64", false, 1, 0x20}, // without GetNativeSystemInfo only the process's view is left
        {"2000-x86", false, 0, 0xFF},   {"8-x64", true, 0, 0xFF},       {"7-ia64", true, 0, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + (c.nativeLookup ? "" : " without GetNativeSystemInfo"));
        onSystem(c.system);
        machine->system().hasGetNativeSystemInfo = c.nativeLookup;
        BYTE code = kOsUnclassified;
        EXPECT_EQ(GetOsVersionCode(code), c.ok);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(machine->faults().calls("GetNativeSystemInfo"), c.nativeLookup ? 1u : 0u);
    }
    onSystem("7-x64");
    machine->system().versionQueryFails = true;
    BYTE code = kOsUnclassified;
    EXPECT_EQ(GetOsVersionCode(code), 0);
    EXPECT_EQ(code, kOsUnclassified);
    // A classified code is kept without asking again.
    code = kOsVistaX86;
    EXPECT_EQ(GetOsVersionCode(code), 1);
    EXPECT_EQ(code, kOsVistaX86);
    EXPECT_EQ(machine->faults().calls("GetVersionExA"), 1u);
}

TEST_F(ChangerTest, ToolAndParametersFollowTheSystem) {
    // The signed-in user's own association for programs, which the shell
    // would follow when asked to open an .exe: a program of the user's in
    // the tool's place, with the tool's path as its argument.
    const std::string hijacker = "C:\\Users\\user\\AppData\\Local\\open.exe";
    const std::string association = "\"" + hijacker + "\" \"%1\" %*";
    const struct {
        const char* system;
        int type;
        const char* file;
        const char* parameters;
    } cases[] = {
        {"7-x64", 2, "C:\\WINDOWS\\inf\\hxsdc\\devconx64.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\""},
        {"7-x64", 1, "C:\\WINDOWS\\inf\\hxsdc\\devconx64.exe",
         "update C:\\WINDOWS\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\""},
        {"7-x86", 2, "C:\\WINDOWS\\inf\\hxsdc\\devcon.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcw7.inf \"pci\\ven_1b2c&dev_1234\""},
        {"vista-x64", 2, "C:\\WINDOWS\\inf\\hxsdc\\devconx64.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcvstx64.inf \"pci\\ven_1b2c&dev_1234\""},
        {"vista-x86", 2, "C:\\WINDOWS\\inf\\hxsdc\\devcon.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcvst.inf \"pci\\ven_1b2c&dev_1234\""},
        {"xp-x64", 2, "C:\\WINDOWS\\inf\\hxsdc\\devconx64.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcxpx64.inf \"pci\\ven_1b2c&dev_1234\""},
        {"2003-x86", 2, "C:\\WINDOWS\\inf\\hxsdc\\devcon.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcxp.inf \"pci\\ven_1b2c&dev_1234\""},
        {"xp-x86", 1, "C:\\WINDOWS\\inf\\hxsdc\\devcon.exe",
         "update C:\\WINDOWS\\inf\\sdbus.inf \"pci\\ven_1b2c&dev_1234\""},
        {"7-x64-wow64", 2, "C:\\WINDOWS\\inf\\hxsdc\\devconx64.exe",
         "update C:\\WINDOWS\\inf\\hxsdc\\hxsdcw7x64.inf \"pci\\ven_1b2c&dev_1234\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " type " + std::to_string(c.type));
        onSystem(c.system);
        machine->registry().setValue(
            "HKCU\\Software\\Classes\\exefile\\shell\\open\\command", "", REG_SZ,
            std::vector<BYTE>(association.c_str(), association.c_str() + association.size() + 1));
        machine->programs().install(hijacker, [](const sim::ProgramRun&) { return DWORD{0}; });
        EXPECT_EQ(ChangeDriver(c.type), 1);
        auto r = runs();
        ASSERT_EQ(r.size(), 1u) << "the tool alone, not the associated program";
        EXPECT_EQ(r[0].application, c.file);
        EXPECT_EQ(r[0].commandLine, std::string("\"") + c.file + "\" " + c.parameters);
        EXPECT_EQ(r[0].file, c.file);
        EXPECT_EQ(r[0].parameters, c.parameters);
        EXPECT_EQ(r[0].show, SW_HIDE);
        EXPECT_EQ(r[0].creationFlags, 0u);
        EXPECT_FALSE(r[0].inheritHandles);
        EXPECT_EQ(r[0].directory, "");
        EXPECT_TRUE(traced("ChangeDriver: UpdateDriver OK"));
        EXPECT_EQ(machine->openHandles(), 0u) << "the process handle is closed";
    }
}

TEST_F(ChangerTest, ToolRunIsWaitedForAndRebindsTheController) {
    onSystem("7-x64");
    reader->setDevconDuration(4000);
    auto t0 = machine->now();
    EXPECT_EQ(ChangeDriver(1), 1);
    EXPECT_EQ(machine->now() - t0, 4000u);
    EXPECT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(ChangeDriver(2), 1);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
}

TEST_F(ChangerTest, SwitchingValueIsPublishedExactlyWhileTheToolRuns) {
    onSystem("7-x64");
    std::vector<std::optional<DWORD>> seenByTool;
    auto path = reader->packageFolder() + "\\devconx64.exe";
    machine->programs().install(path, [&](const sim::ProgramRun&) {
        seenByTool.push_back(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv));
        Sleep(1000);
        return DWORD{0};
    });
    EXPECT_EQ(ChangeDriver(1), 1);
    EXPECT_EQ(ChangeDriver(2), 1);
    ASSERT_EQ(seenByTool.size(), 2u);
    EXPECT_EQ(seenByTool[0], 1u);
    EXPECT_EQ(seenByTool[1], 0x81u);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);

    // A tool that cannot be started: the value still goes up and back to 0.
    machine->programs().uninstall(path);
    EXPECT_EQ(ChangeDriver(2), 0);
    EXPECT_TRUE(traced("ChangeDriver: UpdateDriver Failed"));
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);
    EXPECT_EQ(machine->faults().calls("RegSetValueExA"), 6u);

    // Its return to 0 goes through the switch flag's retry rule.
    machine->registry().setDword(kParamsPath, kValueIsSwitchingDrv, kSwitchingToMaker); // left by an earlier run
    machine->faults().failNext("RegSetValueExA", 5, ERROR_CANTWRITE);
    EXPECT_EQ(ChangeDriver(2), 0);
    EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);
}

TEST_F(ChangerTest, RefusalsComeInTheirOrder) {
    onSystem("7-x64");
    const struct {
        const char* name;
        std::function<void()> arrange;
        int type;
        const char* trace;
    } cases[] = {
        {"no device identifier",
         [&] {
             gdwDeviceId = 0;
             machine->registry().deleteValue(kParamsPath, kValueDeviceId);
             reader->setControllerState(sim::ControllerState::Disabled);
         },
         7, "ChangeDriver: DeivceId is 0000, it is not supported!"},
        {"identifier above 0xFFFF, re-read as such",
         [&] {
             gdwDeviceId = 0x10000;
             machine->registry().setDword(kParamsPath, kValueDeviceId, 0x10000);
         },
         1, "ChangeDriver: DeivceId is 10000, it is not supported!"},
        {"controller not running, before the type is examined",
         [&] { reader->setControllerState(sim::ControllerState::Disabled); }, 3,
         "ChangeDriver: Enumerate host controller Devices Status failed"},
        {"unknown type", [] {}, 3, "ChangeDriver: UpdateDriver flag error"},
        {"unsupported system", [&] { machine->system() = sim::SystemConfig::named("8-x64"); }, 2,
         "ChangeDriver: the service could not support this OS version(ff)!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        onSystem("7-x64");
        c.arrange();
        EXPECT_EQ(ChangeDriver(c.type), 0);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_EQ(runs().size(), 0u);
        EXPECT_EQ(machine->faults().calls("RegSetValueExA"), 0u) << "IsSwitchingDrv untouched";
    }
}

TEST_F(ChangerTest, InvalidIdentifierIsReadAgainAndThenKept) {
    onSystem("7-x64");
    gdwDeviceId = 0;
    EXPECT_EQ(ChangeDriver(1), 1);
    EXPECT_EQ(gdwDeviceId, 0x1234u);
    auto reads = machine->faults().calls("RegQueryValueExA");
    machine->registry().setDword(kParamsPath, kValueDeviceId, 0x5555);
    EXPECT_EQ(ChangeDriver(2), 1);
    EXPECT_EQ(gdwDeviceId, 0x1234u);
    EXPECT_EQ(machine->faults().calls("RegQueryValueExA"), reads);
}

TEST_F(ChangerTest, LongWindowsDirectoryIsRefusedWithoutOverrun) {
    const struct {
        std::size_t length;
        int type;
        const char* trace;
        std::size_t toolRuns;
    } cases[] = {
        // The directory fits, sdbus.inf fits, the tool's path does not.
        {240, 1, "RunDevconUpdate: the tool's command does not fit in 260 bytes.", 0},
        // The maker's package path does not fit: refused before IsSwitchingDrv.
        {240, 2, "ChangeDriver: the inf path does not fit in 260 bytes.", 0},
        // The parameters (inf path and identifier) do not fit, the paths do.
        {215, 1, "RunDevconUpdate: the tool's command does not fit in 260 bytes.", 0},
        // The directory itself does not fit its buffer.
        {300, 1, "ChangeDriver:Error(0) in GetWindowsDirectory, length 301.", 0},
        {200, 2, "ChangeDriver: UpdateDriver OK", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::string dir = "C:\\" + std::string(c.length - 3, 'W');
        onSystem("7-x64", dir);
        SetLastError(0);
        int result = ChangeDriver(c.type);
        EXPECT_EQ(result, c.toolRuns ? 1 : 0);
        EXPECT_TRUE(traced(c.trace));
        EXPECT_EQ(runs().size(), c.toolRuns);
        auto switching = machine->registry().dword(kParamsPath, kValueIsSwitchingDrv);
        EXPECT_TRUE(!switching || *switching == 0u);
    }
}

TEST_F(ChangerTest, RunThatCannotBeWaitedForIsAFailure) {
    // The tool takes longer than the 20 s it is given then, which the call
    // takes whole before it reports the failure.
    const struct {
        const char* name;
        std::function<void()> arrange;
        const char* trace;
        sim::VirtualTime took;
    } cases[] = {
        {"no process handle", [&] { machine->programs().setGivesNoProcessHandle(true); },
         "RunDevconUpdate: no process handle to wait for.", 20000},
        {"the wait fails", [&] { machine->faults().failNth("WaitForSingleObject", 1, ERROR_INVALID_HANDLE); },
         "RunDevconUpdate:Error(6) in WaitForSingleObject.", 20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        onSystem("7-x64");
        reader->setDevconDuration(30000);
        c.arrange();
        auto t0 = machine->now();
        EXPECT_EQ(ChangeDriver(1), 0);
        EXPECT_EQ(machine->now() - t0, c.took);
        EXPECT_EQ(runs().size(), 1u) << "the tool was started";
        EXPECT_TRUE(traced(c.trace));
        EXPECT_TRUE(traced("ChangeDriver: UpdateDriver Failed"));
        EXPECT_EQ(machine->registry().dword(kParamsPath, kValueIsSwitchingDrv), 0u);
        machine->advance(15000); // the tool's own run ends
        EXPECT_EQ(machine->openHandles(), 0u);
    }
}

TEST_F(ChangerTest, ToolThatFailsInItsOwnWorkIsNotDetected) {
    onSystem("7-x64");
    reader->setDevconMode(sim::DevconMode::EndsWithoutRebinding);
    EXPECT_EQ(ChangeDriver(1), 1);
    EXPECT_EQ(reader->binding(), sim::Binding::Maker);
}

} // namespace
