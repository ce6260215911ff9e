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

void Report::add(const std::string& key, const std::string& text, const std::string& json, int shown) {
    entries_.push_back({key, text, json, static_cast<decltype(Entry::shown)>(shown)});
}

void Report::command(const std::string& name) {
    add("command", name, jsonString(name), Entry::None);
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

void Report::jsonOnly(const std::string& key, const std::string& json) {
    add(key, "", json, Entry::None);
}

void Report::block(const std::string& key, const std::string& text) {
    add(key, text, jsonString(text), Entry::Bare);
}

void Report::fail(const std::string& step, std::uint32_t status, const std::string& hint) {
    const std::string meaning = statusMeaning(status);
    // In JSON the step's own key, when it is a status, keeps its number too.
    if (step == "sysinit")
        jsonOnly(step, std::to_string(status));
    error(step + ": " + hex16(status) + " (" + meaning + ")" + (hint.empty() ? "" : ": " + hint));
    errorJson_ = ", \"step\": " + jsonString(step) + ", \"status\": " + jsonString(hex16(status)) +
                 ", \"meaning\": " + jsonString(meaning);
}

void Report::error(const std::string& message) {
    message_ = message;
    errorJson_.clear();
}

std::string Report::errorLine() const {
    return failed() ? "ddtool: " + message_ + "\n" : "";
}

std::string Report::render() const {
    std::string out;
    if (!json_) {
        for (const auto& e : entries_)
            if (e.shown == Entry::Line)
                out += e.key + ": " + e.text + "\n";
            else if (e.shown == Entry::Bare)
                out += e.text;
        return out;
    }
    out = "{";
    const char* separator = "\n";
    for (const auto& e : entries_) {
        out += separator;
        out += "  " + jsonString(e.key) + ": " + e.json;
        separator = ",\n";
    }
    if (failed())
        out += separator + std::string("  \"error\": {\"message\": ") + jsonString(message_) + errorJson_ + "}";
    return out + "\n}\n";
}

} // namespace ddtool
