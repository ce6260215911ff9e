// ddtool on Linux: the library's own functions, run on a simulated machine
// with the reader installed on the maker's driver and one card in it, the
// default card or the one --sim describes. The machine lives as long as the
// host; writes to the card go with it.
#pragma once

#include "host.h"
#include "sim_card.h"

#include "platform/sim/card_reader.h"
#include "platform/sim/machine.h"

#include <functional>
#include <memory>
#include <string>

namespace ddtool {

class SimHost : public Host {
  public:
    // `progressSink` and `input`, for tests: where progress goes instead of
    // standard error, and what standard input holds.
    // `betweenCalls`, for tests: what happens between a read's calls.
    explicit SimHost(bool stderrIsTerminal, std::string* progressSink = nullptr, const std::string* input = nullptr,
                     std::function<void()> betweenCalls = nullptr);
    ~SimHost() override;

    bool describeCard(const std::optional<std::string>& text, std::string& why) override;
    std::string simUsage() const override;
    const Library* open(std::string& why) override;
    std::string libraryVersion() const override;
    std::FILE* standardInput() override;
    bool showsProgress() const override { return terminal_; }
    void progress(const std::string& text) override;
    void betweenCalls() override;

    // The machine and reader of the last open(), for tests.
    sim::Machine* machine() { return machine_.get(); }
    sim::CardReader* reader() { return reader_.get(); }

  private:
    bool terminal_;
    std::string* sink_;
    const std::string* input_;
    std::function<void()> betweenCalls_;
    std::FILE* inputFile_ = nullptr;
    SimCard card_;
    std::unique_ptr<sim::Machine> machine_;
    std::unique_ptr<sim::CardReader> reader_;
};

} // namespace ddtool
