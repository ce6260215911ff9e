// The service's device-tree questions, and the driver changer that acts on
// them, over a tree the fuzzer fills: devices with instance identifiers and
// descriptions of any content and length, any status and problem, present or
// not, with identifiers that cannot be read; an SD-bus device that comes and
// goes while the bus check samples; DeviceId of any type and size; any
// Windows directory and system. Each answer is checked against the rule it
// follows, worked out here from the tree as the machine holds it.
#include "support/byte_source.h"
#include "support/service_world.h"

#include "platform/sim/card_reader.h"
#include "service/device_enumeration.h"
#include "service/driver_changer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMostDevices = 6;
constexpr std::size_t kLongestText = 700;
constexpr std::size_t kLongestDirectory = 300; // past the changer's 260-byte texts
constexpr std::size_t kMostToggles = 8;
constexpr DWORD kSampleMs = SdBusSettling::kSampleIntervalMs;
constexpr int kSamples = SdBusSettling::kSamples;
constexpr int kRunToDecide = 17;
constexpr const char* kControllerPattern = "pci\\ven_1b2c&dev_1234";

const char* const kSystems[] = {"xp-x86", "2003-x64",    "vista-x86", "vista-x64", "7-x86",
                                "7-x64",  "7-x64-wow64", "8-x64",     "2000-x86",  "7-ia64"};

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (fold(text[i]) != fold(prefix[i]))
            return false;
    return true;
}
bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && startsWithIgnoringCase(a, b);
}
std::string upToZero(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// The identifier as the service reads it: empty when it cannot be read or
// does not fit in 200 bytes.
std::string readId(const sim::Device& d) {
    if (d.idUnreadable || d.instanceId.size() + 1 > kDeviceIdBytes)
        return "";
    return upToZero(d.instanceId);
}

// The description as the service reads it, when it can.
std::optional<std::string> readDescription(const sim::Device& d) {
    if (!d.description || d.description->size() + 1 > kDescriptionBytes)
        return std::nullopt;
    return upToZero(*d.description);
}

bool matches(const std::string& id, std::string pattern) {
    if (!pattern.empty() && pattern.back() == '*')
        pattern.pop_back();
    return startsWithIgnoringCase(id, pattern);
}

std::string anyCase(fuzz::ByteSource& input, std::string s) {
    for (char& c : s)
        if (input.flag())
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string instanceId(fuzz::ByteSource& input) {
    switch (input.choice(4)) {
    case 0:
        return anyCase(input, "SD\\") + input.text(kLongestText);
    case 1: // a second controller of the same maker and model
        return anyCase(input, "PCI\\VEN_1B2C&DEV_1234") + input.text(kLongestText);
    case 2:
        return "sd"; // as long as the pattern's text, without its separator
    default:
        return input.text(kLongestText);
    }
}

std::optional<std::string> description(fuzz::ByteSource& input) {
    const std::string texts[] = {kMakerDriverDescription, kStandardDriverDescription};
    switch (input.choice(4)) {
    case 0:
        return std::nullopt;
    case 1:
        return anyCase(input, input.pick(texts));
    case 2:
        return input.pick(texts) + input.text(kLongestText); // continues, or holds a zero
    default:
        return input.text(kLongestText);
    }
}

void status(fuzz::ByteSource& input, sim::Machine& m, DEVINST d) {
    const ULONG states[] = {DN_STARTED, DN_HAS_PROBLEM, DN_PRIVATE_PROBLEM | DN_STARTED, 0};
    if (input.flag())
        m.devices().setStatus(d, input.flag() ? input.pick(states) : input.u32(), input.flag() ? 22 : input.u32());
    m.devices().setPresent(d, input.byte() != 0xFF);
    m.devices().setIdUnreadable(d, input.byte() == 0xFF);
}

// The SD-bus device that comes and goes while the check samples: it changes
// at half past each chosen sample interval, so no sample meets a change.
struct Toggles {
    sim::Machine* machine;
    DEVINST device;
    std::vector<DWORD> at; // virtual milliseconds from the check's start, rising

    bool presentAt(DWORD ms) const {
        bool present = false;
        for (DWORD t : at)
            present = t < ms ? !present : present;
        return present;
    }
};

DWORD WINAPI toggle(LPVOID p) {
    const auto* t = static_cast<const Toggles*>(p);
    DWORD now = 0;
    bool present = false;
    for (DWORD at : t->at) {
        Sleep(at - now);
        now = at;
        present = !present;
        t->machine->devices().setPresent(t->device, present);
    }
    return 0;
}

// The first run of 17 equal samples decides; none in 100 counts as a device.
int settledEmpty(const std::vector<bool>& present) {
    int run = 0;
    for (std::size_t k = 0; k < present.size(); ++k) {
        run = k > 0 && present[k] == present[k - 1] ? run + 1 : 1;
        if (run == kRunToDecide)
            return present[k] ? 0 : 1;
    }
    return 0;
}

struct Tree {
    std::vector<sim::Device> devices;

    bool anyDescribedAs(const std::string& text) const {
        for (const auto& d : devices)
            if (d.present)
                if (auto t = readDescription(d); t && equalIgnoringCase(*t, text))
                    return true;
        return false;
    }
    bool anyMatching(const std::string& pattern) const {
        for (const auto& d : devices)
            if (d.present && matches(readId(d), pattern))
                return true;
        return false;
    }
    // EnumerateDevicesStatus: the first present match, started without a problem.
    int firstMatchRunning(const std::string& pattern) const {
        for (const auto& d : devices) {
            if (!d.present || !matches(readId(d), pattern))
                continue;
            return !(d.status & (DN_HAS_PROBLEM | DN_PRIVATE_PROBLEM)) && (d.status & DN_STARTED) ? 1 : 0;
        }
        return 0;
    }
};

void busCheck(fuzz::ByteSource& input, sim::Machine& m) {
    Toggles toggles{&m, m.devices().add("SD\\VID_FUZZ&PID_0001\\1", std::string("SDIO Device")), {}};
    m.devices().setPresent(toggles.device, false);
    const std::size_t changes = input.choice(kMostToggles + 1);
    DWORD at = 0;
    for (std::size_t i = 0; i < changes; ++i)
        toggles.at.push_back(at += kSampleMs * static_cast<DWORD>(1 + input.choice(40)) - (i ? 0 : kSampleMs / 2));
    const Tree tree{m.devices().devices()};
    const bool elsewhere = [&] {
        for (const auto& d : tree.devices)
            if (d.devInst != toggles.device && d.present && matches(readId(d), kSdBusPattern))
                return true;
        return false;
    }();
    std::vector<bool> samples;
    for (int k = 1; k <= kSamples; ++k)
        samples.push_back(elsewhere || toggles.presentAt(kSampleMs * k));

    HANDLE thread = CreateThread(nullptr, 0, toggle, &toggles, 0, nullptr);
    fuzz::require(Check_SDBUSHasNotDevice_afterRemoveMessage(0) == settledEmpty(samples), "the SD-bus check");
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    m.devices().remove(toggles.device);
}

void changeDriver(fuzz::ByteSource& input, sim::Machine& m, const sim::CardReader& reader) {
    const DWORD ids[] = {0, 0x1234, 0x10000, 0xFFFF};
    gdwDeviceId = input.flag() ? input.pick(ids) : input.u32();
    const int type = static_cast<int>(input.choice(4));
    const std::size_t runsBefore = reader.devconCommands().size();
    const int result = ChangeDriver(type);
    const std::size_t runs = reader.devconCommands().size() - runsBefore;
    fuzz::require(result == 0 || result == 1, "ChangeDriver answers 0 or 1");
    fuzz::require(runs <= 1 && (type == 1 || type == 2 || runs == 0), "at most one run, of a known type");
    if (result == 1)
        fuzz::require(runs == 1 && gdwDeviceId >= 1 && gdwDeviceId <= kMaxDeviceId, "a run for a valid controller");
    if (runs == 1) {
        const sim::DevconCommand c = reader.devconCommands().back();
        char hardwareId[64];
        std::snprintf(hardwareId, sizeof hardwareId, "\"pci\\ven_1b2c&dev_%04x\"", static_cast<unsigned>(gdwDeviceId));
        fuzz::require(c.file.size() < kTextBytes && c.parameters.size() < kTextBytes, "texts within 260 bytes");
        fuzz::require(
            c.parameters.rfind("update ", 0) == 0 && c.parameters.size() >= std::strlen(hardwareId) &&
                c.parameters.compare(c.parameters.size() - std::strlen(hardwareId), std::string::npos, hardwareId) == 0,
            "update <inf> \"<hardware id>\"");
    }
    const auto switching = m.registry().dword(fuzz::kParametersPath, kValueIsSwitchingDrv);
    fuzz::require(!switching || *switching == 0, "IsSwitchingDrv is 0 after every run");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteSource input(data, size);
    sim::MachineOptions options;
    options.system = sim::SystemConfig::named(input.pick(kSystems));
    if (input.byte() == 0xFF)
        options.system.windowsDirectory = "C:\\" + input.text(kLongestDirectory);
    fuzz::ServiceWorld world(options);
    sim::Machine& m = world.machine;
    sim::CardReader reader(m);
    reader.setDevconDuration(100);
    reader.install(0x1234, input.flag() ? sim::Binding::Standard : sim::Binding::Maker);
    reader.insert(static_cast<sim::Card>(input.choice(3)));
    status(input, m, reader.controller());
    switch (input.choice(3)) {
    case 0:
        m.registry().deleteValue(fuzz::kParametersPath, kValueDeviceId);
        break;
    case 1:
        m.registry().setDword(fuzz::kParametersPath, kValueDeviceId, input.flag() ? 0x1234 : input.u32());
        break;
    default: {
        const DWORD type = input.u32();
        const std::string bytes = input.text(16);
        m.registry().setValue(fuzz::kParametersPath, kValueDeviceId, type,
                              std::vector<BYTE>(bytes.begin(), bytes.end()));
    }
    }
    const std::size_t devices = input.choice(kMostDevices + 1);
    for (std::size_t i = 0; i < devices; ++i) {
        const std::string id = instanceId(input);
        const DEVINST d = m.devices().add(id, description(input));
        status(input, m, d);
    }
    const fuzz::Counters before = fuzz::Counters::of(m);

    const Tree tree{m.devices().devices()};
    const std::string id = input.text(kLongestText);
    const std::string pattern = input.flag() ? input.text(kLongestText) : kSdBusPattern;
    fuzz::require(MatchDeviceId(id.c_str(), pattern.c_str()) == (matches(upToZero(id), upToZero(pattern)) ? 1 : 0),
                  "MatchDeviceId");
    fuzz::require(FindHalvexDriver() == (tree.anyDescribedAs(kMakerDriverDescription) ? 1 : 0), "FindHalvexDriver");
    fuzz::require(FindMicrosoftDriver() == (tree.anyDescribedAs(kStandardDriverDescription) ? 1 : 0),
                  "FindMicrosoftDriver");
    fuzz::require(EnumerateDevices(kSdBusPattern) == (tree.anyMatching(kSdBusPattern) ? 0 : 2), "EnumerateDevices");
    fuzz::require(EnumerateDevicesStatus(kControllerPattern) == tree.firstMatchRunning(kControllerPattern),
                  "EnumerateDevicesStatus");
    fuzz::requireUnchanged(before, m);

    if (input.flag())
        busCheck(input, m);
    changeDriver(input, m, reader);
    fuzz::requireUnchanged(before, m);
    return 0;
}
