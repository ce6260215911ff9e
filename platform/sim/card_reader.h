// The Halvex card reader as the deliverables see it: the PCI controller bound
// to the maker's driver or to the system's standard SD host driver, the
// registry handshake for an SDIO card, the SD-bus child under the standard
// driver, the device-console tool that rebinds it, and the reader's disk drive
// at its drive letter.
#pragma once

#include "platform/sim/card_catalogue.h"
#include "platform/sim/disk_drive.h"
#include "platform/sim/kept_records.h"
#include "platform/sim/machine.h"
#include "platform/sim/sd_controller.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

enum class Binding { Maker, Standard };
enum class Card { None, Sdio, Memory };
enum class ControllerState { Running, Absent, Disabled, Problem, PrivateProblem, NotStarted };

// How the simulated device-console tool behaves.
enum class DevconMode {
    Rebinds,              // "update" rebinds the controller
    Missing,              // the tool is not in the package folder: the start fails
    Hangs,                // the tool never ends
    EndsWithoutRebinding, // fails in its own work, silently
};

struct DevconCommand {
    VirtualTime time;
    std::string file;
    std::string parameters;
    int show;
};

class CardReader {
  public:
    static constexpr const char* kMakerDescription = "Halvex Integrated MMC/SD controller";
    static constexpr const char* kStandardDescription = "SDA Standard Compliant SD Host Controller";
    static constexpr const char* kParametersPath = "HKLM\\SYSTEM\\CurrentControlSet\\services\\HXSDCRDR\\Parameters";
    // The storage-port interface class the maker's driver registers.
    static constexpr GUID kStoragePortInterface = {
        0x2accfe60, 0xc130, 0x11d2, {0xb0, 0x82, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
    // The memory card a reader holds unless told otherwise: the catalogue's
    // standard capacity card of 1 GB.
    static MemoryCard defaultMemoryCard() { return cards::standard1Gb(); }
    static CardRegisters defaultCard() { return defaultMemoryCard().registers; }
    // The reader's drive: after the system disk (C:) and the optical drive
    // that usually takes D:.
    static constexpr char kDefaultDriveLetter = 'E';
    // What the reader's drive reports: SCSI inquiry strings, space-padded,
    // at target 1 of the maker's bus.
    static DriveIdentity driveIdentity();

    explicit CardReader(Machine& machine);

    // The driver's installation: the controller with PCI device identifier
    // `deviceId`, bound to the maker's driver; the parameters key with
    // IsSupportSDIO = 1 and DeviceId; the package folder with both tools. The
    // machine gets its system disk at C: too, unless C: already has a drive.
    void install(DWORD deviceId = 0x1234, Binding binding = Binding::Maker);

    Binding binding() const { return binding_; }
    void bind(Binding binding);
    void insert(Card card);
    void remove();
    Card card() const { return card_; }
    void setControllerState(ControllerState state, ULONG problem = 0);

    // The maker's driver behind the controller's storage-port interface,
    // there while the maker's driver is bound, and the memory card it sees.
    SdController& controllerDriver() { return *controllerDriver_; }
    std::string interfacePath() const { return interfacePath_; }
    // The registers only: capacity and geometry stay those of the card before.
    void setCard(const CardRegisters& registers);

    // The reader's drive exists at its letter while the maker's driver is
    // bound, card or no card; its capacity and geometry answer only while a
    // memory card is in. Moving it takes it away from the old letter.
    void setDriveLetter(char letter);
    char driveLetter() const { return driveLetter_; }
    DiskDrive& drive() { return *drive_; }
    // Puts `card` in: the controller answers its registers, the drive its
    // capacity and geometry (no sector written yet); then as insert(Card::Memory).
    void insertCard(const MemoryCard& card);
    const MemoryCard& memoryCard() const { return memoryCard_; }

    // The tool: how long an update takes, and how it behaves.
    void setDevconDuration(DWORD ms) { devconMs_ = ms; }
    void setDevconMode(DevconMode mode);
    std::vector<DevconCommand> devconCommands() const;
    // A long run keeps only the latest `n` commands in devconCommands();
    // devconCommandCount() counts them all.
    void keepDevconCommands(std::size_t n);
    std::uint64_t devconCommandCount() const;
    std::string controllerInstanceId() const;
    DEVINST controller() const { return controller_; }
    std::string packageFolder() const;

    // Told of what happens at the reader: cards, bindings, tool runs.
    void onEvent(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

  private:
    DWORD runDevcon(const ProgramRun& run);
    void installTools();
    void refreshChild();
    void publishInterface();

    Machine& m_;
    DWORD deviceId_ = 0x1234;
    Binding binding_ = Binding::Maker;
    Card card_ = Card::None;
    DEVINST controller_ = 0;
    DEVINST child_ = 0;
    std::shared_ptr<SdController> controllerDriver_ = std::make_shared<SdController>();
    std::shared_ptr<DiskDrive> drive_ = std::make_shared<DiskDrive>(driveIdentity());
    char driveLetter_ = kDefaultDriveLetter;
    MemoryCard memoryCard_ = defaultMemoryCard();
    bool installed_ = false;
    std::string interfacePath_;
    DWORD devconMs_ = 3000;
    DevconMode mode_ = DevconMode::Rebinds;
    mutable std::mutex mutex_;
    KeptRecords<DevconCommand> commands_;
    std::function<void(const std::string&)> listener_;
    void tell(const std::string& what) {
        if (listener_)
            listener_(what);
    }
};

} // namespace sim
