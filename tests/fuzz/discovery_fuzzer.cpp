// Controller discovery through DDSysInit, over a device tree the fuzzer
// builds: devices with instance identifiers and descriptions of any length
// and content, storage-port interfaces (and others) with paths of any length
// and content, enabled or not, each with a driver behind it or none. The
// answer is checked against the rule: the first present device with the
// maker's description decides, and its first storage-port interface is the
// controller if its path fits and opens.
#include "support/checks.h"

#include "Ferrocard.h"
#include "support/scripted_device.h"

#include "cardlib/discovery.h"
#include "cardlib/state.h"
#include "platform/sim/card_reader.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMostDevices = 6;
constexpr std::size_t kMostInterfaces = 3;
constexpr std::size_t kLongestText = 700; // past every buffer the library has
constexpr std::size_t kDescriptionBuffer = 512;
constexpr std::size_t kControllerPathLimit = ferrocard::kControllerPathSize;
// The display adapter class: an interface of another class.
constexpr GUID kOtherInterface = {0x5b45201d, 0xf2f2, 0x4f3b, {0x85, 0xbb, 0x30, 0xff, 0x1f, 0x95, 0x35, 0x99}};

std::string folded(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A C string's part of a text that may hold zeros.
std::string upToZero(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

std::optional<std::string> description(fuzz::ByteSource& input) {
    const std::string maker = ferrocard::kControllerDescription;
    switch (input.choice(6)) {
    case 0:
        return std::nullopt;
    case 1:
        return maker;
    case 2: { // the maker's, in other letter case
        std::string s = maker;
        for (char& c : s)
            if (input.flag())
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return s;
    }
    case 3:
        return maker + input.text(kLongestText); // continues, or holds a zero
    case 4:
        return maker.substr(0, input.choice(maker.size())); // cut short
    default:
        return input.text(kLongestText);
    }
}

// What the harness put into the tree, device by device.
struct Built {
    std::optional<std::string> description;
    bool listed;           // present, with an enabled storage-port interface
    std::string firstPath; // its first storage-port interface's
};

// What discovery must find, once the tree is complete: the first listed
// device whose description reads into 512 bytes and is, up to its first
// zero, the maker's decides; its first storage-port interface is the
// controller if the path fits and a driver is behind it.
std::optional<std::string> controllerOf(const std::vector<Built>& built, sim::Machine& m) {
    for (const Built& b : built) {
        if (!b.listed || !b.description || b.description->size() + 1 > kDescriptionBuffer ||
            folded(upToZero(*b.description)) != folded(ferrocard::kControllerDescription))
            continue;
        const std::string path = upToZero(b.firstPath);
        if (path.size() < kControllerPathLimit && m.files().attached(path))
            return path;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    sim::Machine machine;
    machine.records().setCallLogging(false);
    machine.files().setRequestKeeping(false);
    fuzz::traceToStandardError(machine);
    ferrocard::resetLibraryState();

    std::vector<Built> built;
    const std::size_t devices = input.choice(kMostDevices + 1);
    for (std::size_t d = 0; d < devices; ++d) {
        const std::string id = input.text(kLongestText);
        const std::optional<std::string> text = description(input);
        const DEVINST devInst = machine.devices().add(id, text);
        const bool present = input.byte() != 0xFF;
        machine.devices().setPresent(devInst, present);
        const bool enabled = input.byte() != 0xFF;
        std::optional<std::string> firstPath;
        const std::size_t interfaces = input.choice(kMostInterfaces + 1);
        for (std::size_t i = 0; i < interfaces; ++i) {
            const bool storagePort = input.flag();
            const std::string path = machine.devices().addInterface(
                devInst, storagePort ? sim::CardReader::kStoragePortInterface : kOtherInterface,
                input.text(kLongestText));
            if (input.flag()) // a driver behind it
                machine.files().attach(
                    path, std::make_shared<fuzz::ScriptedDevice>(input, fuzz::ScriptedDevice::Opens::Always));
            if (storagePort && !firstPath)
                firstPath = path;
        }
        machine.devices().setInterfacesEnabled(devInst, sim::CardReader::kStoragePortInterface, enabled);

        built.push_back(Built{text, present && enabled && firstPath, firstPath.value_or("")});
    }
    const std::optional<std::string> expected = controllerOf(built, machine);

    const fuzz::Counters before = fuzz::Counters::of(machine);
    const std::uint32_t status = DDSysInit();
    const ferrocard::LibraryState& s = ferrocard::library();
    if (expected) {
        fuzz::require(status == FERROCARD_OK, "the decisive device's controller is taken");
        fuzz::require(std::strlen(s.controllerPath) < kControllerPathLimit && *expected == s.controllerPath,
                      "the controller's path is recorded whole");
        fuzz::require(DDSysInit() == FERROCARD_OK, "found again");
        fuzz::require(machine.openHandles() == before.handles + 1, "one controller handle, the last one");
        const std::uint32_t command = DDChangeSA();
        fuzz::require(command == FERROCARD_OK || command == FERROCARD_E_COMMAND_FAILED, "a command reaches it");
    } else {
        fuzz::require(status == FERROCARD_E_NO_CONTROLLER, "no controller found");
        fuzz::require(s.controller == INVALID_HANDLE_VALUE, "the handle keeps its value");
    }
    fuzz::Counters controller = before;
    controller.handles += expected ? 1 : 0;
    fuzz::requireUnchanged(controller, machine);
    ferrocard::resetLibraryState();
    return 0;
}
