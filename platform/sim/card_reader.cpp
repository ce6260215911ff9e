#include "platform/sim/card_reader.h"

#include "platform/sim/drive_letters.h"
#include "platform/win32.h"

#include <cctype>
#include <cstdio>
#include <strings.h>

namespace sim {

namespace {
std::string folded(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

CardReader::CardReader(Machine& machine) : m_(machine) {
    controllerDriver_->setRegisters(memoryCard_.registers);
}

DriveIdentity CardReader::driveIdentity() {
    DriveIdentity d;
    d.vendor = "Halvex  ";
    d.product = "SD/MMC Reader   ";
    d.revision = "1.00";
    d.serial = "HX20110517A0001";
    d.removable = true;
    d.busType = BusTypeSd;
    d.targetId = 1;
    return d;
}

void CardReader::setCard(const CardRegisters& registers) {
    memoryCard_.registers = registers;
    controllerDriver_->setRegisters(registers);
}

void CardReader::setDriveLetter(char letter) {
    const bool shown = installed_ && binding_ == Binding::Maker;
    drivePath(letter); // refuses a letter that is none before anything moves
    if (shown)
        removeDrive(m_, driveLetter_);
    driveLetter_ = letter;
    if (shown)
        putDrive(m_, driveLetter_, drive_);
}

void CardReader::insertCard(const MemoryCard& card) {
    memoryCard_ = card;
    controllerDriver_->setRegisters(card.registers);
    insert(Card::Memory);
}

// The interface and the device object behind it exist while the maker's
// driver runs: a switch to the standard driver takes the controller away from
// the card library, as on a real machine. So does the reader's drive letter:
// the disk is the maker's driver's.
void CardReader::publishInterface() {
    bool maker = binding_ == Binding::Maker;
    controllerDriver_->setBound(maker);
    m_.devices().setInterfacesEnabled(controller_, kStoragePortInterface, maker);
    if (maker) {
        m_.files().attach(interfacePath_, controllerDriver_);
        putDrive(m_, driveLetter_, drive_);
    } else {
        m_.files().detach(interfacePath_);
        removeDrive(m_, driveLetter_);
    }
}

std::string CardReader::controllerInstanceId() const {
    char id[96];
    std::snprintf(id, sizeof id, "PCI\\VEN_1B2C&DEV_%04X&SUBSYS_10001B2C&REV_01\\4&2A1B3C4D&0&00E1",
                  static_cast<unsigned>(deviceId_));
    return id;
}

std::string CardReader::packageFolder() const {
    return m_.system().windowsDirectory + "\\inf\\hxsdc";
}

void CardReader::install(DWORD deviceId, Binding binding) {
    deviceId_ = deviceId;
    binding_ = binding;
    m_.registry().setDword(kParametersPath, "IsSupportSDIO", 1);
    m_.registry().setDword(kParametersPath, "DeviceId", deviceId);
    controller_ = m_.devices().add(controllerInstanceId(),
                                   std::string(binding == Binding::Maker ? kMakerDescription : kStandardDescription));
    interfacePath_ = m_.devices().addInterface(controller_, kStoragePortInterface);
    installed_ = true;
    publishInterface();
    if (!hasDrive(m_, 'C'))
        drives::putSystemDisk(m_);
    installTools();
}

void CardReader::installTools() {
    for (const char* tool : {"devcon.exe", "devconx64.exe"})
        m_.programs().install(packageFolder() + "\\" + tool, [this](const ProgramRun& run) { return runDevcon(run); });
}

void CardReader::setDevconMode(DevconMode mode) {
    mode_ = mode;
    if (mode == DevconMode::Missing) {
        for (const char* tool : {"devcon.exe", "devconx64.exe"})
            m_.programs().uninstall(packageFolder() + "\\" + tool);
    } else {
        installTools();
    }
}

std::vector<DevconCommand> CardReader::devconCommands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.entries();
}

void CardReader::keepDevconCommands(std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.keepLatest(n);
}

std::uint64_t CardReader::devconCommandCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_.count();
}

// The SD-bus child exists exactly while the standard driver is bound and a
// card is in the slot.
void CardReader::refreshChild() {
    bool wanted = controller_ && binding_ == Binding::Standard && card_ != Card::None;
    if (wanted && !child_) {
        const char* id = card_ == Card::Sdio ? "SD\\VID_02D0&PID_4329&FN_1\\5&3B2C1D0E&0&1"
                                             : "SD\\VID_03&OID_5344&PID_SD04G&REV_8.0\\5&3B2C1D0E&0&0";
        child_ = m_.devices().add(id, std::string(card_ == Card::Sdio ? "SDIO Wireless Device" : "SD Memory Card"),
                                  controller_);
    } else if (!wanted && child_) {
        DEVINST gone = child_;
        child_ = 0;
        m_.devices().remove(gone);
    }
}

void CardReader::bind(Binding binding) {
    binding_ = binding;
    tell(std::string("controller bound to \"") +
         (binding == Binding::Maker ? kMakerDescription : kStandardDescription) + "\"");
    if (child_) {
        DEVINST gone = child_;
        child_ = 0;
        m_.devices().remove(gone);
    }
    m_.devices().setDescription(controller_,
                                std::string(binding == Binding::Maker ? kMakerDescription : kStandardDescription));
    publishInterface();
    m_.devices().announceChange();
    refreshChild();
    // The maker's driver, once loaded, reports an SDIO card it finds.
    if (binding == Binding::Maker && card_ == Card::Sdio)
        m_.registry().setDword(kParametersPath, "IsSDIOPresent", 1);
}

void CardReader::insert(Card card) {
    card_ = card;
    controllerDriver_->setCardIn(card == Card::Memory);
    // Only a memory card is a disk.
    if (card == Card::Memory)
        drive_->insertMedium(memoryCard_.medium());
    else
        drive_->removeMedium();
    tell(card == Card::Sdio ? "SDIO card inserted" : "memory card inserted");
    if (binding_ == Binding::Maker) {
        // The maker's driver reports an SDIO card through the registry only;
        // a memory card becomes a disk, which changes the device tree.
        if (card == Card::Sdio)
            m_.registry().setDword(kParametersPath, "IsSDIOPresent", 1);
        else
            m_.devices().announceChange();
    } else {
        refreshChild();
    }
}

void CardReader::remove() {
    Card was = card_;
    card_ = Card::None;
    controllerDriver_->setCardIn(false);
    drive_->removeMedium();
    tell("card removed");
    if (child_)
        refreshChild();
    else if (was == Card::Memory)
        m_.devices().announceChange();
}

void CardReader::setControllerState(ControllerState state, ULONG problem) {
    const ULONG base = DN_DRIVER_LOADED | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    switch (state) {
    case ControllerState::Running:
        m_.devices().setPresent(controller_, true);
        m_.devices().setStatus(controller_, base | DN_STARTED, 0);
        break;
    case ControllerState::Absent:
        m_.devices().setPresent(controller_, false);
        break;
    case ControllerState::Disabled:
        m_.devices().setStatus(controller_, base | DN_HAS_PROBLEM, CM_PROB_DISABLED);
        break;
    case ControllerState::Problem:
        m_.devices().setStatus(controller_, base | DN_HAS_PROBLEM, problem ? problem : CM_PROB_FAILED_START);
        break;
    case ControllerState::PrivateProblem:
        m_.devices().setStatus(controller_, base | DN_PRIVATE_PROBLEM | DN_STARTED, 0);
        break;
    case ControllerState::NotStarted:
        m_.devices().setStatus(controller_, base, 0);
        break;
    }
}

// "update <inf> "<hardware id>"": rebinds the controller when the hardware
// identifier is its own, to the standard driver for sdbus.inf and to the
// maker's for an inf of the package folder. The device tree changes (and is
// announced) while it works.
DWORD CardReader::runDevcon(const ProgramRun& run) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(DevconCommand{run.started, run.file, run.parameters, run.show});
    }
    tell("device console started, hidden: " + run.file + " " + run.parameters);
    if (mode_ == DevconMode::Hangs) {
        Sleep(INFINITE);
        return 0;
    }
    m_.devices().announceChange();
    Sleep(devconMs_ / 2);
    if (mode_ == DevconMode::EndsWithoutRebinding) {
        Sleep(devconMs_ - devconMs_ / 2);
        return 1;
    }
    const std::string& p = run.parameters;
    std::string inf, hwid;
    if (p.rfind("update ", 0) == 0) {
        auto quote = p.find('"');
        auto end = quote == std::string::npos ? std::string::npos : p.find('"', quote + 1);
        if (quote != std::string::npos && end != std::string::npos) {
            inf = p.substr(7, quote - 8);
            hwid = p.substr(quote + 1, end - quote - 1);
        }
    }
    std::string controllerHw = controllerInstanceId().substr(0, controllerInstanceId().find("&SUBSYS"));
    bool ours = !hwid.empty() && !strncasecmp(hwid.c_str(), controllerHw.c_str(), controllerHw.size());
    auto endsWith = [&](const std::string& tail) {
        return inf.size() >= tail.size() && !strcasecmp(inf.c_str() + inf.size() - tail.size(), tail.c_str());
    };
    DWORD code = 2; // no matching device
    if (ours && endsWith("\\inf\\sdbus.inf")) {
        bind(Binding::Standard);
        code = 0;
    } else if (ours && folded(inf).find("\\inf\\hxsdc\\hxsdc") != std::string::npos) {
        bind(Binding::Maker);
        code = 0;
    }
    Sleep(devconMs_ - devconMs_ / 2);
    m_.devices().announceChange();
    tell("device console ended");
    return code;
}

} // namespace sim
