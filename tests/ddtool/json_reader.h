// Just enough of a JSON reader to check what ddtool --json prints: the whole
// text must be one value, with members kept in their order.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    std::uint64_t number = 0;
    std::string string;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* find(const std::string& key) const {
        for (const auto& m : members)
            if (m.first == key)
                return &m.second;
        return nullptr;
    }
    std::vector<std::string> keys() const {
        std::vector<std::string> k;
        for (const auto& m : members)
            k.push_back(m.first);
        return k;
    }
};

class JsonReader {
  public:
    // True when `text` is exactly one JSON value (and white space).
    static bool parse(const std::string& text, Json& value) {
        JsonReader r(text);
        return r.value(value) && (r.space(), r.at_ == text.size());
    }

  private:
    explicit JsonReader(const std::string& text) : text_(text) {}

    void space() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool word(const char* w, Json& v, Json::Type type, bool b) {
        const std::string s(w);
        if (text_.compare(at_, s.size(), s))
            return false;
        at_ += s.size();
        v.type = type;
        v.boolean = b;
        return true;
    }
    bool string(std::string& s) {
        if (!take('"'))
            return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (static_cast<unsigned char>(text_[at_]) < 0x20)
                return false;
            if (text_[at_] == '\\') {
                if (++at_ == text_.size() || std::string("\"\\/bfnrtu").find(text_[at_]) == std::string::npos)
                    return false;
                if (text_[at_] == 'u')
                    at_ += 4;
            }
            s += text_[at_++];
        }
        return take('"');
    }
    bool value(Json& v) {
        space();
        if (at_ == text_.size())
            return false;
        const char c = text_[at_];
        if (c == '{') {
            v.type = Json::Type::Object;
            ++at_;
            if (take('}'))
                return true;
            do {
                std::pair<std::string, Json> m;
                if (!string(m.first) || !take(':') || !value(m.second))
                    return false;
                v.members.push_back(std::move(m));
            } while (take(','));
            return take('}');
        }
        if (c == '[') {
            v.type = Json::Type::Array;
            ++at_;
            if (take(']'))
                return true;
            do {
                v.items.emplace_back();
                if (!value(v.items.back()))
                    return false;
            } while (take(','));
            return take(']');
        }
        if (c == '"') {
            v.type = Json::Type::String;
            return string(v.string);
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            v.type = Json::Type::Number;
            const std::size_t start = at_;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
                v.number = v.number * 10 + static_cast<unsigned>(text_[at_++] - '0');
            // No leading zeros, as JSON has it.
            return !(text_[start] == '0' && at_ - start > 1);
        }
        return word("true", v, Json::Type::Bool, true) || word("false", v, Json::Type::Bool, false) ||
               word("null", v, Json::Type::Null, false);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};
