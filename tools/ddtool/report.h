// What a command answers, built key by key and printed either as "key: value"
// lines or as one JSON object with the same keys in the same order. A failure
// (a library call's status and meaning, or any other error) is one line for
// standard error, and in JSON also the object's "error" member.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ddtool {

class Report {
  public:
    explicit Report(bool json) : json_(json) {}

    // The JSON object's "command" member; no line.
    void command(const std::string& name);
    // text: "key: VALUE" or "key: VALUE (note)"; JSON: the number.
    void number(const std::string& key, std::uint64_t value, const std::string& note = "");
    // text: as given; JSON: the number.
    void number(const std::string& key, std::uint64_t value, const std::string& text, const std::string& note);
    // text: "yes" or "no"; JSON: true or false.
    void flag(const std::string& key, bool value, const std::string& note = "");
    // text: the string; JSON: the string, quoted.
    void text(const std::string& key, const std::string& value);
    // text as given; JSON as given (already JSON).
    void raw(const std::string& key, const std::string& text, const std::string& json);
    // No line; JSON as given.
    void jsonOnly(const std::string& key, const std::string& json);
    // text: the text alone, no key; JSON: the string.
    void block(const std::string& key, const std::string& text);

    // A library call answered `status`, not 0: "step: 0xSSSS (meaning)",
    // and `hint` after it where one helps; in JSON "error": {"message",
    // "step", "status" (hex text), "meaning"}.
    void fail(const std::string& step, std::uint32_t status, const std::string& hint = "");
    // Any other failure: JSON "error": {"message"}.
    void error(const std::string& message);
    bool failed() const { return !message_.empty(); }
    bool json() const { return json_; }

    // What goes to standard output: the lines, or the JSON object with its
    // error member.
    std::string render() const;
    // "ddtool: MESSAGE" for standard error, or nothing.
    std::string errorLine() const;

  private:
    struct Entry {
        std::string key, text, json;
        enum { Line, None, Bare } shown; // as a "key: text" line, not at all, or the text alone
    };
    void add(const std::string& key, const std::string& text, const std::string& json, int shown = Entry::Line);

    bool json_;
    std::string message_, errorJson_;
    std::vector<Entry> entries_;
};

// A string as a JSON string literal.
std::string jsonString(const std::string& s);
// "0x13FF": a status or other 16-bit word in hex.
std::string hex16(std::uint32_t value);

} // namespace ddtool
