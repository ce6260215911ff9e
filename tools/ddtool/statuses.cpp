#include "statuses.h"

#include "Ferrocard.h"

#include <cstdio>

namespace ddtool {

std::string statusMeaning(std::uint32_t status) {
    switch (status) {
    case FERROCARD_OK:
        return "success";
    case FERROCARD_E_NO_CARD_DRIVE:
        return "no card drive: no reader with a card in it";
    case FERROCARD_E_WRITE_PROTECTED:
        return "write refused: the card is write-protected";
    case FERROCARD_E_BAD_DRIVE:
        return "not the card's drive";
    case FERROCARD_E_COMMAND_FAILED:
        return "a command to the card or the drive failed";
    case FERROCARD_E_NO_CONTROLLER:
        return "no controller found or opened";
    default:
        return "unknown status";
    }
}

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
