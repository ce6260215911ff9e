// A simulated machine with the card reader installed: the controller on the
// maker's driver, the parameters key, the package folder with its tools.
#pragma once

#include "platform/sim/card_reader.h"
#include "sim_fixture.h"

#include <string>
#include <vector>

class DeviceTest : public SimTest {
protected:
    void SetUp() override { restart(sim::MachineOptions{}); }

    void restart(sim::MachineOptions options, DWORD deviceId = 0x1234) {
        reader.reset();
        start(options);
        reader = std::make_unique<sim::CardReader>(*machine);
        reader->install(deviceId);
    }

    void TearDown() override {
        if (machine) {
            EXPECT_EQ(machine->openDeviceLists(), 0u);
            EXPECT_EQ(machine->openKeys(), 0u);
        }
        reader.reset();
        SimTest::TearDown();
    }

    unsigned calls(const char* function) { return machine->faults().calls(function); }
    int countTraced(const std::string& text) const {
        int n = 0;
        for (const auto& line : machine->records().debugOutput())
            n += line.text.find(text) != std::string::npos;
        return n;
    }

    std::unique_ptr<sim::CardReader> reader;
};

// The values written to `name` under the parameters key, in order (attempts
// included, failed or not).
inline std::vector<DWORD> writesOf(sim::Machine& m, const std::string& name) {
    std::vector<DWORD> values;
    for (const auto& c : m.records().calls("RegSetValueExA"))
        if (c.arguments.find("\"" + name + "\"") != std::string::npos)
            values.push_back(static_cast<DWORD>(std::stoul(c.arguments.substr(c.arguments.rfind(',') + 1), nullptr, 16)));
    return values;
}
