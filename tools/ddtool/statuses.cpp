#include "statuses.h"

#include "Ferrocard.h"

#include <cstdio>

namespace ddtool {

// The header's own words, which applications print too.
std::string statusMeaning(std::uint32_t status) { return FerrocardStatusText(status); }

std::vector<std::string> cardStatusBits(std::uint16_t status) {
    static const struct {
        std::uint16_t bit;
        const char* name;
    } kBits[] = {
        {FERROCARD_CARD_CHECKED, "checked"},
        {FERROCARD_CARD_WRITE_PROTECTED, "writeProtected"},
        {FERROCARD_CARD_HIGH_CAPACITY, "highCapacity"},
        {FERROCARD_CARD_EXTENDED_CAPACITY, "extendedCapacity"},
    };
    std::vector<std::string> names;
    std::uint16_t rest = status;
    for (const auto& b : kBits)
        if (status & b.bit) {
            names.push_back(b.name);
            rest &= static_cast<std::uint16_t>(~b.bit);
        }
    for (unsigned bit = 0; bit < 16; ++bit)
        if (rest & (1u << bit)) {
            char text[8];
            std::snprintf(text, sizeof text, "0x%04X", 1u << bit);
            names.push_back(text);
        }
    return names;
}

} // namespace ddtool
