#include "sim_host.h"

#include "cardlib/state.h"

#include <cstdio>

namespace ddtool {

namespace {

const Library kLibrary = {
    DDSysInit, DDSysFini, DDFini,       DDSysDrive,    DDChkSDCard, DDIdentify, DDSecureIdentify,
    DDGetMID,  DDReadMKB, DDSecureRead, DDSecureWrite, DDReadPT,    DDWritePT,
};

} // namespace

SimHost::SimHost(bool stderrIsTerminal, std::string* progressSink, const std::string* input,
                 std::function<void()> betweenCalls)
    : terminal_(stderrIsTerminal), sink_(progressSink), input_(input), betweenCalls_(std::move(betweenCalls)) {}

SimHost::~SimHost() {
    if (inputFile_)
        std::fclose(inputFile_);
    reader_.reset();
    machine_.reset();
    // The library's state outlives the machine it talked to.
    ferrocard::resetLibraryState();
}

bool SimHost::describeCard(const std::optional<std::string>& text, std::string& why) {
    card_ = SimCard();
    return !text || parseSimCard(*text, card_, why);
}

std::string SimHost::simUsage() const {
    return simCardUsage();
}

std::string SimHost::libraryVersion() const {
    return "Ferrocard's own code, built into this ddtool and run on a simulated machine (no DLL)";
}

std::FILE* SimHost::standardInput() {
    if (!input_)
        return stdin;
    if (!inputFile_)
        inputFile_ = input_->empty() ? std::fopen("/dev/null", "rb")
                                     : fmemopen(const_cast<char*>(input_->data()), input_->size(), "rb");
    return inputFile_;
}

// As an application starts: the library as at load, on a machine whose reader
// holds the card.
const Library* SimHost::open(std::string&) {
    reader_.reset();
    machine_.reset();
    ferrocard::resetLibraryState();
    machine_ = std::make_unique<sim::Machine>();
    reader_ = std::make_unique<sim::CardReader>(*machine_);
    reader_->install();
    reader_->setDriveLetter(card_.letter);
    reader_->insertCard(card_.card);
    for (std::uint32_t code : card_.failing)
        reader_->controllerDriver().setReply(code, sim::CommandReply::Fails);
    return &kLibrary;
}

void SimHost::progress(const std::string& text) {
    if (sink_) {
        *sink_ += text;
    } else {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }
}

void SimHost::betweenCalls() {
    if (betweenCalls_)
        betweenCalls_();
}

} // namespace ddtool
