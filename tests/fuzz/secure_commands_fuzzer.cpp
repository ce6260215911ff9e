// Every export of the secure family, in any order and with any arguments,
// against a controller and a drive whose drivers answer from the fuzzer's
// bytes: replies of any content and length, failures at any point, and one
// platform call (an allocation, a request, an open) failing when the input
// says. Caller buffers are exactly as large as the call names, so a byte
// read or written past them is the address sanitizer's to report.
#include "support/card_world.h"
#include "support/scripted_device.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kEight = 8;
constexpr std::size_t kBlock = 512;
// Block counts stay small: a count of 65535 costs 32 MiB a call and finds
// nothing a count of 9 does not.
constexpr std::size_t kMostBlocks = 9;
constexpr std::uint8_t kNullBuffer = 0xFF;

const char* const kFailingCalls[] = {"HeapAlloc", "DeviceIoControl", "CreateFileA"};

bool oneOf(std::uint32_t status, std::initializer_list<std::uint32_t> allowed) {
    for (std::uint32_t a : allowed)
        if (status == a)
            return true;
    return false;
}

struct Session {
    fuzz::ByteSource& input;
    fuzz::ScriptedDevice& controller;
    fuzz::ScriptedDevice& drive;

    // A caller buffer of exactly `n` bytes, filled from the input; now and
    // then none at all.
    std::unique_ptr<std::uint8_t[]> buffer(std::size_t n, bool& none) {
        none = input.byte() == kNullBuffer;
        if (none)
            return nullptr;
        auto b = std::make_unique<std::uint8_t[]>(n ? n : 1);
        const std::vector<std::uint8_t> content = input.bytes(n);
        if (!content.empty())
            std::memcpy(b.get(), content.data(), content.size());
        return b;
    }

    unsigned sent() const { return controller.requests() + drive.requests(); }

    // A write with the flag set is refused before anything is sent.
    void requireRefusedUnsent(std::uint32_t status, unsigned sentBefore) {
        fuzz::require(status == FERROCARD_E_WRITE_PROTECTED, "a write-protected card refuses the write");
        fuzz::require(sent() == sentBefore, "a refused write sends nothing");
    }

    void shortCommand(std::uint32_t (*command)(std::uint8_t*), bool sends) {
        bool none = false;
        auto b = buffer(kEight, none);
        std::uint8_t before[kEight] = {};
        if (b)
            std::memcpy(before, b.get(), kEight);
        const std::uint32_t status = command(b.get());
        fuzz::require(oneOf(status, {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "a short command's status");
        if (sends && b)
            fuzz::require(std::memcmp(before, b.get(), kEight) == 0, "the caller's 8 bytes go out unchanged");
    }

    void step() {
        const unsigned sentBefore = sent();
        const bool writeProtected = ferrocard::library().writeProtected != 0;
        bool none = false;
        switch (input.choice(11)) {
        case 0:
            return shortCommand(DDGetMID, false);
        case 1:
            return shortCommand([](std::uint8_t* b) { return DDSetChallenge(b); }, true);
        case 2:
            return shortCommand(DDGetChallenge, false);
        case 3:
            return shortCommand([](std::uint8_t* b) { return DDSetResponse(b); }, true);
        case 4:
            return shortCommand(DDGetResponse, false);
        case 5:
            fuzz::require(oneOf(DDChangeSA(), {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "DDChangeSA's status");
            return;
        case 6: {
            const auto count = static_cast<std::uint16_t>(input.choice(kMostBlocks));
            const std::uint8_t selector = input.byte();
            const std::uint16_t first = input.u16();
            auto b = buffer(count * kBlock, none);
            const std::uint32_t status = DDReadMKB(b.get(), count, selector, first);
            fuzz::require(oneOf(status, {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "DDReadMKB's status");
            fuzz::require(count || (status == FERROCARD_OK && sent() == sentBefore), "no block asked for, none sent");
            return;
        }
        case 7: {
            const auto count = static_cast<std::uint16_t>(input.choice(kMostBlocks));
            auto b = buffer(count * kBlock, none);
            fuzz::require(oneOf(DDSecureRead(b.get(), count), {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}),
                          "DDSecureRead's status");
            return;
        }
        case 8: {
            const auto count = static_cast<std::uint16_t>(input.choice(kMostBlocks));
            auto b = buffer(count * kBlock, none);
            const std::uint32_t status = DDSecureWrite(b.get(), count);
            if (writeProtected)
                return requireRefusedUnsent(status, sentBefore);
            fuzz::require(oneOf(status, {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "DDSecureWrite's status");
            return;
        }
        case 9: {
            const auto count = static_cast<std::uint16_t>(input.choice(kMostBlocks));
            const std::uint32_t first = input.u32();
            auto b = buffer(count * kBlock, none);
            const std::uint32_t status = DDReadPT(b.get(), count, first);
            fuzz::require(oneOf(status, {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "DDReadPT's status");
            fuzz::require(count || (status == FERROCARD_OK && sent() == sentBefore), "no block asked for, none sent");
            return;
        }
        default: {
            const auto sectors = static_cast<std::uint16_t>(input.choice(kMostBlocks));
            const std::uint32_t offset = input.u32();
            auto b = buffer(sectors * kBlock, none);
            const std::uint32_t status = DDWritePT(b.get(), sectors, offset);
            if (writeProtected)
                return requireRefusedUnsent(status, sentBefore);
            fuzz::require(oneOf(status, {FERROCARD_OK, FERROCARD_E_COMMAND_FAILED}), "DDWritePT's status");
            return;
        }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    fuzz::CardWorld world;
    auto controller = std::make_shared<fuzz::ScriptedDevice>(input);
    auto drive = std::make_shared<fuzz::ScriptedDevice>(input);
    world.machine.files().attach(world.reader.interfacePath(), controller);
    world.machine.files().attach(sim::drivePath(world.reader.driveLetter()), drive);
    DDSysInit(); // when it fails, every command fails at its request

    // What a probe and a card check would have left: the reader's drive,
    // and the card's write protection as the input has it.
    ferrocard::LibraryState& s = ferrocard::library();
    if (input.flag())
        s.drive.number = static_cast<std::uint32_t>(world.reader.driveLetter() - 'A' + 1);
    s.writeProtected = input.flag() ? 1 : 0;
    // One platform call fails, at a point of the input's choosing.
    const std::size_t failing = input.choice(sizeof kFailingCalls / sizeof kFailingCalls[0] + 1);
    if (failing < sizeof kFailingCalls / sizeof kFailingCalls[0])
        world.machine.faults().failNth(kFailingCalls[failing], 1 + input.byte(), ERROR_NOT_ENOUGH_MEMORY);

    Session session{input, *controller, *drive};
    while (!input.empty()) {
        session.step();
        fuzz::requireUnchanged(world.idle(), world.machine);
    }
    return 0;
}
