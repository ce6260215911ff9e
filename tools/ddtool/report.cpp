#include "report.h"

#include "statuses.h"

#include <cstdio>

namespace ddtool {

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string hex16(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

void Report::add(const std::string& key, const std::string& text, const std::string& json, bool line) {
    entries_.push_back({key, text, json, line});
}

void Report::command(const std::string& name) {
    add("command", name, jsonString(name), false);
}

void Report::number(const std::string& key, std::uint64_t value, const std::string& note) {
    number(key, value, std::to_string(value), note);
}

void Report::number(const std::string& key, std::uint64_t value, const std::string& text, const std::string& note) {
    add(key, note.empty() ? text : text + " (" + note + ")", std::to_string(value));
}

void Report::flag(const std::string& key, bool value, const std::string& note) {
    const std::string word = value ? "yes" : "no";
    add(key, note.empty() ? word : word + " (" + note + ")", value ? "true" : "false");
}

void Report::text(const std::string& key, const std::string& value) {
    add(key, value, jsonString(value));
}

void Report::raw(const std::string& key, const std::string& text, const std::string& json) {
    add(key, text, json);
}

void Report::fail(const std::string& step, std::uint32_t status) {
    failed_ = true;
    const std::string meaning = statusMeaning(status);
    // In JSON the step's own key, when it is a status, keeps its number too.
    if (json_ && step == "sysinit")
        add(step, "", std::to_string(status));
    add(json_ ? "error" : step, hex16(status) + " (" + meaning + ")",
        "{\"step\": " + jsonString(step) + ", \"status\": " + std::to_string(status) +
            ", \"meaning\": " + jsonString(meaning) + "}");
}

std::string Report::render() const {
    std::string out;
    if (!json_) {
        for (const auto& e : entries_)
            if (e.line)
                out += e.key + ": " + e.text + "\n";
        return out;
    }
    out = "{";
    const char* separator = "\n";
    for (const auto& e : entries_) {
        out += separator;
        out += "  " + jsonString(e.key) + ": " + e.json;
        separator = ",\n";
    }
    return out + "\n}\n";
}

} // namespace ddtool
