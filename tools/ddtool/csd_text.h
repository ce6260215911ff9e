// What a CSD field's value means, for the line ddtool prints beside it: the
// access time behind TAAC's code, the rate behind TRAN_SPEED's, the command
// classes of CCC, block lengths, currents, factors. Empty where the number
// says it all.
#pragma once

#include "csd.h"

#include <string>

namespace ddtool {

// `fields` gives the neighbours some values depend on (FILE_FORMAT_GRP for
// FILE_FORMAT).
std::string explainCsdField(const CsdField& field, const std::vector<CsdField>& fields);

// The field's value as ddtool prints it: hexadecimal for the coded bytes
// (TAAC, NSAC, TRAN_SPEED, CCC, CRC), decimal for the rest.
std::string csdFieldValue(const CsdField& field);

// Where a version 2.0 or 3.0 register fixes the field's value and `field`
// differs: "a version 2.0 register has 0x0E", as mmc warns; else empty.
std::string fixedValueWarning(const CsdField& field, std::uint32_t structure);

// "1.0", "2.0", "3.0", or "reserved".
std::string csdVersionName(std::uint32_t structure);

} // namespace ddtool
