// A fresh simulated machine for each test, checked at the end for deadlocks.
#pragma once

#include "platform/sim/machine.h"
#include "platform/sim/resource_script.h"
#include "service/parameters.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline const std::string kParamsPath = std::string("HKLM\\") + kParametersKey;

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { start(sim::MachineOptions{}); }

    // Rebuild the machine with other options (a process without rights, a
    // tick counter near its wrap).
    void start(sim::MachineOptions options) {
        machine.reset();
        machine = std::make_unique<sim::Machine>(options);
        sim::loadResourceScript(*machine, CARDWELL_RC);
        SvcForgetProcessState();
    }

    void TearDown() override {
        if (machine) {
            EXPECT_EQ(machine->deadlockReport(), "");
        }
        machine.reset();
        SvcForgetProcessState();
    }

    sim::Registry& registry() { return machine->registry(); }
    bool traced(const std::string& text) const { return machine->records().traced(text); }

    std::unique_ptr<sim::Machine> machine;
};
