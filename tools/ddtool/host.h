// What differs between the two builds of ddtool: how the library is reached
// and what machine it runs on, where progress goes and where standard input
// comes from. Everything else is one body of code (the file calls that
// differ are in file_system.h).
#pragma once

#include "library.h"

#include <cstdio>
#include <optional>
#include <string>

namespace ddtool {

class Host {
  public:
    virtual ~Host() = default;

    // The card --sim CARD describes, or none given. False with a one-line
    // reason when the build takes no such card or CARD is not one.
    virtual bool describeCard(const std::optional<std::string>& text, std::string& why) = 0;
    // The keys --sim takes; empty where the build simulates no card.
    virtual std::string simUsage() const = 0;
    // The library, ready to be called; null with a one-line reason when it
    // cannot be had.
    virtual const Library* open(std::string& why) = 0;
    // What the library open() gave is and its version, in one line.
    virtual std::string libraryVersion() const = 0;
    // Where FILE - is read from, as bytes.
    virtual std::FILE* standardInput() = 0;
    // Whether standard error is a terminal, where progress is shown.
    virtual bool showsProgress() const = 0;
    virtual void progress(const std::string& text) = 0;
    // Between one library call's blocks and the next while a read goes on:
    // nothing for the program to do; where a test acts meanwhile.
    virtual void betweenCalls() {}
};

} // namespace ddtool
