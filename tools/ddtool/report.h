// What a command answers, built key by key and printed either as "key: value"
// lines or as one JSON object with the same keys in the same order. A failed
// step of the library is a line with its status and meaning, or the object's
// "error" member, and makes the run's exit code 1.
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

    // A library call answered `status`, not 0: text "step: 0xSSSS (meaning)";
    // JSON "error": {"step", "status", "meaning"}.
    void fail(const std::string& step, std::uint32_t status);
    bool failed() const { return failed_; }
    bool json() const { return json_; }

    std::string render() const;

  private:
    struct Entry {
        std::string key, text, json;
        bool line; // printed as a line in text mode
    };
    void add(const std::string& key, const std::string& text, const std::string& json, bool line = true);

    bool json_;
    bool failed_ = false;
    std::vector<Entry> entries_;
};

// A string as a JSON string literal.
std::string jsonString(const std::string& s);
// "0x13FF": a status or other 16-bit word in hex.
std::string hex16(std::uint32_t value);

} // namespace ddtool
