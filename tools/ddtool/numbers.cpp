#include "numbers.h"

namespace ddtool {

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hasHexPrefix(const std::string& text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

} // namespace

std::optional<std::uint64_t> parseNumber(const std::string& text, std::uint64_t max) {
    const bool hex = hasHexPrefix(text);
    const unsigned base = hex ? 16 : 10;
    const std::size_t start = hex ? 2 : 0;
    if (text.size() == start)
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const int d = digitValue(text[i]);
        if (d < 0 || static_cast<unsigned>(d) >= base)
            return std::nullopt;
        // Past `max` is out of range, long before it could wrap.
        value = value * base + static_cast<unsigned>(d);
        if (value > max)
            return std::nullopt;
    }
    return value;
}

bool parseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes, std::string& why) {
    std::string digits;
    for (std::size_t i = hasHexPrefix(text) ? 2 : 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' || c == '-' || c == ' ')
            continue;
        if (digitValue(c) < 0) {
            why = std::string("'") + c + "' is not a hexadecimal digit";
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2) {
        why = std::to_string(digits.size()) + " hex digits: an odd number";
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(digitValue(digits[i]) << 4 | digitValue(digits[i + 1])));
    return true;
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

} // namespace ddtool
