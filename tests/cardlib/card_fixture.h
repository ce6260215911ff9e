// A simulated machine with the reader installed on the maker's driver and a
// memory card in it, and the library as it is at load. At the end nothing the
// library took may be left: no heap block, no device list, and no handle but
// the controller's.
#pragma once

#include "Ferrocard.h"
#include "cardlib/state.h"
#include "platform/sim/card_reader.h"
#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

class CardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine = std::make_unique<sim::Machine>();
        reader = std::make_unique<sim::CardReader>(*machine);
        reader->install();
        reader->insert(sim::Card::Memory);
        ferrocard::resetLibraryState();
    }

    void TearDown() override {
        EXPECT_EQ(machine->heapBlocks(), 0u);
        EXPECT_EQ(machine->openDeviceLists(), 0u);
        EXPECT_EQ(machine->openHandles(), controllerOpen() ? 1u : 0u);
        EXPECT_EQ(machine->deadlockReport(), "");
        reader.reset();
        machine.reset();
        ferrocard::resetLibraryState();
    }

    bool controllerOpen() const {
        HANDLE h = ferrocard::library().controller;
        return h && h != INVALID_HANDLE_VALUE;
    }

    // The miniport requests sent so far.
    std::vector<sim::IoRecord> packets() const { return machine->files().requests(IOCTL_SCSI_MINIPORT); }
    // Their command codes, in order.
    std::vector<std::uint32_t> commandsSent() const;
    // The library ready for card commands: DDSysInit done, records cleared.
    void initialise() {
        ASSERT_EQ(DDSysInit(), 0u);
        machine->files().clearRequests();
        machine->records().clear();
    }
    // The library as at load again, its controller handle closed first.
    void restartLibrary() {
        if (controllerOpen())
            CloseHandle(ferrocard::library().controller);
        ferrocard::resetLibraryState();
    }

    sim::SdController& driver() { return reader->controllerDriver(); }

    std::unique_ptr<sim::Machine> machine;
    std::unique_ptr<sim::CardReader> reader;
};

// A packet's 32-bit little-endian field at `offset`.
std::uint32_t field(const std::vector<BYTE>& packet, std::size_t offset);

inline std::vector<std::uint32_t> CardTest::commandsSent() const {
    std::vector<std::uint32_t> codes;
    for (const auto& p : packets())
        codes.push_back(field(p.in, 16));
    return codes;
}

inline std::uint32_t field(const std::vector<BYTE>& packet, std::size_t offset) {
    if (packet.size() < offset + 4)
        return 0xFFFFFFFFu;
    return packet[offset] | (packet[offset + 1] << 8) | (packet[offset + 2] << 16) |
           (static_cast<std::uint32_t>(packet[offset + 3]) << 24);
}
