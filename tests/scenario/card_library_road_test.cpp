// An SD application's session with the card library while Cardwell runs:
// when the service gives the controller to the standard driver for an SDIO
// card, the library loses it; when the service gives it back, the library
// finds it again.
#include "device_fixture.h"

#include "Ferrocard.h"
#include "cardlib/state.h"

#include <array>

namespace {

class LibraryRoadTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        ferrocard::resetLibraryState();
        SvcInit(0, 0);
        ASSERT_TRUE(SvcIsRunning());
        machine->advance(1000);
    }
    void TearDown() override {
        SvcStop();
        SvcCleanup();
        EXPECT_EQ(machine->heapBlocks(), 0u);
        ferrocard::resetLibraryState();
        DeviceTest::TearDown();
    }
};

TEST_F(LibraryRoadTest, TheControllerGoesWithTheMakersDriverAndComesBackWithIt) {
    reader->insert(sim::Card::Memory);
    ASSERT_EQ(DDSysInit(), 0u);
    std::array<uint8_t, 8> mid{};
    EXPECT_EQ(DDGetMID(mid.data()), 0u);
    reader->remove();
    machine->advance(10000); // the service settles after the card's removal

    // An SDIO card: the service binds the standard driver, and the storage-port
    // interface goes with the maker's driver.
    reader->insert(sim::Card::Sdio);
    machine->advance(20000);
    ASSERT_EQ(reader->binding(), sim::Binding::Standard);
    EXPECT_EQ(DDSysInit(), 0x13FFu);
    // The handle the application still holds reaches nothing: ten attempts, 20 s.
    auto t0 = machine->now();
    EXPECT_EQ(DDGetMID(mid.data()), 0x12FFu);
    EXPECT_EQ(machine->now() - t0, 20000u);

    // The card leaves, the service gives the controller back, and the
    // library finds it again.
    reader->remove();
    machine->advance(20000);
    ASSERT_EQ(reader->binding(), sim::Binding::Maker);
    reader->insert(sim::Card::Memory);
    EXPECT_EQ(DDSysInit(), 0u);
    EXPECT_EQ(DDGetMID(mid.data()), 0u);
    EXPECT_EQ(mid, reader->controllerDriver().registers().mediaId);
}

} // namespace
