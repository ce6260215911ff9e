// Every export of a card session, with each platform call it makes failing
// in turn: the export answers exactly the status its documentation gives for
// that failure, and leaves no heap block, no device list and no handle but
// the controller's. The calls come from the record of a clean run, so a
// platform call added to the library is swept without a new test.
#include "card_fixture.h"

#include "platform/sim/card_catalogue.h"

#include <functional>
#include <map>
#include <set>
#include <string>

namespace {

// A failed release leaves what it was to release, whoever calls it: those
// are not swept.
bool isRelease(const std::string& function) {
    return function == "CloseHandle" || function == "SetupDiDestroyDeviceInfoList" || function == "HeapFree";
}

class FaultSweepTest : public CardTest {
  protected:
    // The session up to the card checks: controller, drive, flags.
    void prepare() {
        reader->remove();
        reader->insertCard(sim::cards::high8Gb());
        initialise();
        uint16_t id = 0, status = 0;
        ASSERT_EQ(DDSysDrive(0, &id), 0u);
        ASSERT_EQ(DDChkSDCard(id, &status), 0u);
        machine->records().clear();
    }

    // Runs `call` once clean, then once per platform call it made with that
    // call failing: "Function #n" (or any call of "Function") answers its
    // status in `except`, every other failure `otherwise`. Answers how many
    // failures were injected.
    int sweep(const char* name, const std::function<uint32_t()>& call, uint32_t otherwise,
              const std::map<std::string, uint32_t>& except = {}) {
        SCOPED_TRACE(name);
        prepare();
        EXPECT_EQ(call(), 0u);
        std::vector<std::string> made;
        for (const auto& c : machine->records().calls())
            made.push_back(c.function);
        std::map<std::string, unsigned> seen;
        std::set<std::string> used;
        int injected = 0;
        for (const std::string& function : made) {
            const unsigned nth = ++seen[function];
            if (isRelease(function))
                continue;
            const std::string which = function + " #" + std::to_string(nth);
            SCOPED_TRACE(which);
            TearDown();
            SetUp();
            prepare();
            machine->faults().failNth(function, nth, ERROR_GEN_FAILURE);
            auto expected = except.find(which);
            if (expected == except.end())
                expected = except.find(function);
            if (expected != except.end())
                used.insert(expected->first);
            EXPECT_EQ(call(), expected == except.end() ? otherwise : expected->second);
            EXPECT_EQ(machine->heapBlocks(), 0u);
            EXPECT_EQ(machine->openDeviceLists(), 0u);
            EXPECT_EQ(machine->openHandles(), controllerOpen() ? 1u : 0u);
            ++injected;
        }
        EXPECT_EQ(used.size(), except.size()) << "a named call was not made";
        return injected;
    }
};

TEST_F(FaultSweepTest, EveryExportWithEachPlatformCallFailing) {
    std::vector<uint8_t> blocks(3 * 512, 0x42);
    uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint16_t word = 0;
    uint32_t n32 = 0;
    uint16_t n16 = 0;
    uint8_t n8 = 0;
    const uint32_t failed = 0x12FF;
    int injected = 0;
    // Drives C: (the system disk) and D: (none) are passed over whatever
    // they answer; the reader's E: is found without its capacity; the volume
    // lock and the pause are not looked at; retried commands survive one
    // failure.
    injected += sweep("DDSysDrive", [&] { return DDSysDrive(0, &word); }, 0,
                      {{"CreateFileA #3", 0x1002}, {"DeviceIoControl #2", 0x1002}, {"DeviceIoControl #4", 0x1002}});
    injected += sweep(
        "DDChkSDCard", [&] { return DDChkSDCard(5, &word); }, failed);
    injected += sweep(
        "DDIdentify", [&] { return DDIdentify(&n32, &n32, &n16, &n16, &n16, &n16, &n8, &n16, &n8, &n8, &n8); },
        failed);
    injected += sweep("DDGetMID", [&] { return DDGetMID(eight); }, 0);
    injected += sweep(
        "DDSetChallenge", [&] { return DDSetChallenge(eight); }, failed);
    injected += sweep(
        "DDGetChallenge", [&] { return DDGetChallenge(eight); }, failed);
    injected += sweep(
        "DDSetResponse", [&] { return DDSetResponse(eight); }, failed);
    injected += sweep(
        "DDGetResponse", [&] { return DDGetResponse(eight); }, failed);
    injected += sweep(
        "DDChangeSA", [] { return DDChangeSA(); }, failed);
    injected += sweep(
        "DDReadMKB", [&] { return DDReadMKB(blocks.data(), 3, 1, 0xFFFD); }, failed, {{"DeviceIoControl", 0}});
    injected += sweep(
        "DDSecureRead", [&] { return DDSecureRead(blocks.data(), 3); }, failed);
    injected += sweep(
        "DDSecureWrite", [&] { return DDSecureWrite(blocks.data(), 3); }, failed);
    injected += sweep(
        "DDReadPT", [&] { return DDReadPT(blocks.data(), 3, 7); }, failed);
    injected += sweep(
        "DDWritePT", [&] { return DDWritePT(blocks.data(), 3, 7); }, failed,
        {{"DeviceIoControl #2", 0}, {"Sleep", 0}});
    EXPECT_GE(injected, 40);
    std::printf("[ sweep    ] %d platform calls failed in turn\n", injected);
}

} // namespace
